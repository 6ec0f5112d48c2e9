// One source for the three registration components; the build chooses which check it holds.
#include "ComponentCheck.h"

#include <cstdint>
#include <cstdlib>
#include <initializer_list>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

namespace {

constexpr long kOk = 0;
constexpr long kFailure = static_cast<int32_t>(0x80004005u);

[[maybe_unused]] bool DecoderOpens(AVCodecID id, const uint8_t* extradata, int extradataSize) {
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!ctx)
        return false;
    if (extradataSize > 0) {
        ctx->extradata = static_cast<uint8_t*>(
            av_mallocz(static_cast<size_t>(extradataSize) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (ctx->extradata) {
            for (int i = 0; i < extradataSize; ++i)
                ctx->extradata[i] = extradata[i];
            ctx->extradata_size = extradataSize;
        }
    }
    const bool ok = avcodec_open2(ctx, codec, nullptr) >= 0;
    avcodec_free_context(&ctx);
    return ok;
}

#if defined(QUILLET_COMPONENT_VISCOMWAVE)

// A tenth of a second of a constant half-scale level must come out as 800 samples of about 192.
bool Check() {
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO, mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_U8, 8000, &stereo, AV_SAMPLE_FMT_S16, 44100, 0,
                            nullptr) < 0 ||
        swr_init(swr) < 0) {
        swr_free(&swr);
        return false;
    }
    static int16_t in[4410 * 2];
    for (int16_t& s : in)
        s = 16384;
    static uint8_t out[1000];
    const uint8_t* inPtr = reinterpret_cast<const uint8_t*>(in);
    uint8_t* outPtr = out;
    int total = swr_convert(swr, &outPtr, 1000, &inPtr, 4410);
    while (total >= 0 && total < 1000) {
        outPtr = out + total;
        const int n = swr_convert(swr, &outPtr, 1000 - total, nullptr, 0);
        if (n <= 0)
            break;
        total += n;
    }
    swr_free(&swr);
    if (total < 790 || total > 810)
        return false;
    for (int i = 100; i < 700; ++i)
        if (std::abs(out[i] - 192) > 2)
            return false;
    return true;
}

#elif defined(QUILLET_COMPONENT_REALMEDIASPLITTER)

bool Check() {
    if (!av_find_input_format("rm"))
        return false;
    for (AVCodecID id :
         {AV_CODEC_ID_COOK, AV_CODEC_ID_RA_144, AV_CODEC_ID_RA_288, AV_CODEC_ID_SIPR, AV_CODEC_ID_ATRAC3})
        if (avcodec_find_decoder(id))
            return true;
    return false;
}

#elif defined(QUILLET_COMPONENT_QUICKTIME)

bool Check() {
    // AAC-LC, 44100 Hz, stereo: the decoder must accept the configuration an MP4 file would carry.
    static const uint8_t aacConfig[] = {0x12, 0x10};
    // An ALAC cookie for 16-bit stereo 44100 Hz; ALAC is optional, but a present decoder must work.
    static const uint8_t alacConfig[] = {0, 0, 0,    36, 'a', 'l', 'a', 'c', 0,  0, 0,    0,
                                         0, 0, 0x10, 0,  0,   16,  40,  10,  14, 2, 0,    255,
                                         0, 0, 0,    0,  0,   0,   0,   0,   0,  0, 0xAC, 0x44};
    if (!av_find_input_format("mov") || !DecoderOpens(AV_CODEC_ID_AAC, aacConfig, sizeof aacConfig))
        return false;
    return !avcodec_find_decoder(AV_CODEC_ID_ALAC) ||
           DecoderOpens(AV_CODEC_ID_ALAC, alacConfig, sizeof alacConfig);
}

#else
#error "Choose the component: QUILLET_COMPONENT_VISCOMWAVE, _REALMEDIASPLITTER or _QUICKTIME"
#endif

} // namespace

extern "C" long DllRegisterServer(void) {
    return Check() ? kOk : kFailure;
}

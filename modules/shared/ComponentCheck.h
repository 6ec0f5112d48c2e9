/* viscomwave.so, RealMediaSplitter.so and QuickTime.so: components registered at start-up. Each exports
 * only DllRegisterServer, which checks that what the component stands for works in the media runtime:
 *   viscomwave.so         PCM conversion (16-bit stereo 44100 Hz to 8-bit mono 8000 Hz)
 *   RealMediaSplitter.so  the RealMedia demuxer and at least one RealAudio decoder
 *   QuickTime.so          the QuickTime/MP4 demuxer, the AAC decoder, and the ALAC decoder when present
 * It returns 0 when it does, and a negative code (0x80004005 as a 32-bit value) when it does not. */
#ifndef QUILLET_COMPONENTCHECK_H
#define QUILLET_COMPONENTCHECK_H

#ifdef __cplusplus
extern "C" {
#endif

__attribute__((visibility("default"))) long DllRegisterServer(void);

#ifdef __cplusplus
}
#endif

#endif

#include "WmaWriter.h"
#include "SystemHelpers.h"
#include "TestSupport.h"
#include "WmaTestMedia.h"

#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

// Points the program directory at the build's (or another) for one test.
class AppDirectory {
public:
    explicit AppDirectory(const std::string& dir) { SetAppDirectoryForTesting(dir); }
    ~AppDirectory() { SetAppDirectoryForTesting(""); }
};

// A program directory of its own holding a copy of the module, so that whether the wrapper unloads it
// can be seen (the module tests keep the build's copy loaded).
class ModuleCopy {
public:
    ModuleCopy() { std::filesystem::copy_file(QUILLET_BIN_DIR "WmAudSDK.so", m_dir.File("WmAudSDK.so")); }
    std::string Dir() const { return m_dir.Path(); }
    std::string ModulePath() const { return m_dir.File("WmAudSDK.so"); }

private:
    TempDir m_dir;
};

bool IsLoaded(const std::string& module) {
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

std::vector<std::string> OpenMessages(const std::string& path, int bitrate = 128000, int rate = 44100,
                                      int channels = 2) {
    MessageRecorder recorder;
    CWmaWriter writer;
    EXPECT_FALSE(writer.Open(path, bitrate, rate, channels));
    return recorder.Texts();
}

} // namespace

TEST(WmaWriterModule, MissingModuleOrEntryPointIsReported) {
    TempDir appDir, out;
    const std::pair<std::string, std::string> cases[] = {
        {appDir.Path(), "Could not found WmAudSDK.DLL file"},
        {WMA_NO_ENTRY_DIR, "Could not found WMAudioCreateWriter library function"}};
    for (const auto& [dir, message] : cases) {
        AppDirectory app(dir);
        EXPECT_EQ(OpenMessages(out.File("a.wma")), std::vector<std::string>{message});
        EXPECT_FALSE(FileExists(out.File("a.wma")));
    }
}

TEST(WmaWriterOpen, EachRefusalHasItsMessageAndLeavesNoFile) {
    TempDir out;
    AppDirectory app(QUILLET_BIN_DIR);
    EXPECT_EQ(OpenMessages(out.File("bad \xC3(.wma")), std::vector<std::string>{"internal error"});
    EXPECT_EQ(OpenMessages(out.File("overlong \xC0\xAF.wma")), std::vector<std::string>{"internal error"});
    EXPECT_EQ(OpenMessages(out.File("cut \xE6\x97.wma")), std::vector<std::string>{"internal error"});
    EXPECT_EQ(OpenMessages(""), std::vector<std::string>{"internal error"});
    EXPECT_EQ(OpenMessages(out.File("no such folder/a.wma")),
              std::vector<std::string>{" Failed to Create Audio Writer"});
    EXPECT_EQ(OpenMessages(out.File("b.wma"), 128000, 44100, 3),
              std::vector<std::string>{" Failed to Set Input Format"});
    EXPECT_EQ(OpenMessages(out.File("c.wma"), 128000, 44100, 65538), // must not wrap to 2 channels
              std::vector<std::string>{" Failed to Set Input Format"});
    EXPECT_EQ(OpenMessages(out.File("d.wma"), 0, 44100, 2),
              std::vector<std::string>{" Failed to Set Output Format"});
    EXPECT_EQ(OpenMessages(out.File("e.wma"), -128000, 44100, 2),
              std::vector<std::string>{" Failed to Set Output Format"});
    for (const char* name : {"b.wma", "c.wma", "d.wma", "e.wma"})
        EXPECT_FALSE(FileExists(out.File(name))) << name;
}

// The program's use: 2304-byte chunks and a short odd last one, into a name with spaces and
// non-ASCII letters; the module is unloaded with the wrapper.
TEST(WmaWriterEncode, WritesAPlayableFileAndUnloadsTheModule) {
    TempDir out;
    ModuleCopy module;
    AppDirectory app(module.Dir());
    MessageRecorder recorder;
    const std::string path = out.File("Mélodie für Ωmega 01.wma");
    const TestSignal signal = MakeBurstSignal(44100);
    {
        CWmaWriter writer;
        ASSERT_TRUE(writer.Open(path, 160000, 44100, 2));
        EXPECT_TRUE(IsLoaded(module.ModulePath()));
        EXPECT_TRUE(writer.Write(signal.Bytes(), 0));
        for (uint32_t pos = 0; pos < signal.ByteCount(); pos += 2304)
            EXPECT_TRUE(writer.Write(signal.Bytes() + pos, std::min(2304u, signal.ByteCount() - pos)));
        EXPECT_TRUE(writer.Write(signal.Bytes(), 1)); // an odd trailing byte
        EXPECT_TRUE(writer.Close());
        EXPECT_FALSE(writer.Write(signal.Bytes(), 4)); // nothing open any more
    }
    EXPECT_FALSE(IsLoaded(module.ModulePath()));
    EXPECT_EQ(recorder.Count(), 0u);

    Decoded decoded = DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_GT(PeakLevel(decoded, 44100 / 2 - 300, 44100 / 2 + 300), 10000);
}

// Cancel: the wrapper goes away without Close; its destructor finishes the file.
TEST(WmaWriterEncode, DestructorFinishesAnOpenFile) {
    TempDir out;
    ModuleCopy module;
    AppDirectory app(module.Dir());
    const std::string path = out.File("cancelled.wma");
    const TestSignal signal = MakeBurstSignal(44100);
    {
        CWmaWriter writer;
        ASSERT_TRUE(writer.Open(path, 48000, 44100, 2));
        EXPECT_TRUE(writer.Write(signal.Bytes(), signal.ByteCount()));
    }
    EXPECT_FALSE(IsLoaded(module.ModulePath()));
    Decoded decoded = DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_GE(decoded.samples.size(), 44100u);
    EXPECT_GT(PeakLevel(decoded, 44100 - 800, 44100), 10000); // the last burst made it
}

// The program's loader of effect libraries: where it finds them, which it
// rejects, how it numbers the effects of several libraries and when it frees them.
// Besides Effekt it loads the small test libraries built beside it (TwoEffects,
// ThreeExports, NoEffects).
#include "effects/EffectHost.h"
#include "EffectReference.h"
#include "TwoEffects.h"

#include <gtest/gtest.h>

#include <QLibrary>
#include <QTemporaryDir>

#include <dlfcn.h>

#include <filesystem>
#include <random>
#include <string>

namespace fs = std::filesystem;
using reference::Picture;
using reference::samePixels;

namespace {

fs::path besideTests(const char* fileName)
{
    return fs::path(PICTAVO_BINARY_DIR) / fileName;
}

// Whether the library is in the process, without loading it.
bool isLoaded(const fs::path& path)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        dlclose(handle);
    return handle != nullptr;
}

// Makes a fresh empty folder the current directory for the guard's lifetime.
class OtherCurrentDirectory
{
public:
    OtherCurrentDirectory() : m_previous(fs::current_path())
    {
        fs::current_path(m_folder.path().toStdString());
    }
    ~OtherCurrentDirectory() { fs::current_path(m_previous); }

private:
    QTemporaryDir m_folder;
    fs::path m_previous;
};

const TwoEffectsCall& lastCall(const EffectPlugin& twoEffects)
{
    const auto lastCallOf =
        reinterpret_cast<TwoEffectsLastCallProc>(twoEffects.module->resolve("TwoEffectsLastCall"));
    return *lastCallOf();
}

Picture randomPicture()
{
    std::mt19937 random(5);
    return reference::randomPicture(6, 5, reference::Values::Full, random);
}

} // namespace

TEST(EffectHostLoading, FindsEffektInTheProgramFolderFromElsewhere)
{
    const fs::path effekt = besideTests("Effekt.dll");
    ASSERT_TRUE(fs::exists(effekt));
    ASSERT_FALSE(isLoaded(effekt));

    OtherCurrentDirectory elsewhere;
    EffectHost host;
    ASSERT_TRUE(host.LoadEffectPlugin());
    ASSERT_EQ(host.plugins().size(), 1u);
    EXPECT_EQ(host.effectCount(), 8);

    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(host.plugins().front().run), &info), 0);
    EXPECT_EQ(fs::canonical(info.dli_fname), fs::canonical(effekt));
}

TEST(EffectHostLoading, RejectsIncompleteAndEmptyLibraries)
{
    QLibrary threeExports(QString::fromStdString(besideTests("ThreeExports.dll").string()));
    ASSERT_TRUE(threeExports.load()) << "the test library is missing";
    ASSERT_NE(threeExports.resolve("GetAnzEff"), nullptr);
    ASSERT_EQ(threeExports.resolve("EffSetup"), nullptr);
    threeExports.unload();

    EffectHost host;
    for (const char* fileName : {"ThreeExports.dll", "NoEffects.dll"}) {
        ASSERT_TRUE(fs::exists(besideTests(fileName))) << fileName;
        EXPECT_FALSE(host.LoadEffectPlugin(fileName)) << fileName;
        EXPECT_FALSE(isLoaded(besideTests(fileName))) << fileName << " was not freed again";
    }
    EXPECT_TRUE(host.plugins().empty());
    EXPECT_EQ(host.effectCount(), 0);
}

TEST(EffectHostLoading, MissingLibraryFailsSilently)
{
    EffectHost host;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    const bool byName = host.LoadEffectPlugin("Fehlt.dll");
    const bool byPath = host.LoadEffectPlugin(besideTests("Fehlt.dll").c_str());
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(byName);
    EXPECT_FALSE(byPath);
    EXPECT_EQ(out + err, "");
    EXPECT_TRUE(host.plugins().empty());
}

// Effects are numbered from 1 over all libraries in load order: with Effekt
// first, effects 9 and 10 are those of TwoEffects.
TEST(EffectHostLoading, NumbersEffectsOverAllLibraries)
{
    EffectHost host;
    ASSERT_TRUE(host.LoadEffectPlugin());
    ASSERT_TRUE(host.LoadEffectPlugin("TwoEffects.dll"));
    ASSERT_EQ(host.effectCount(), 10);
    const QStringList names = host.effectNames();
    ASSERT_EQ(names.size(), 10);
    EXPECT_EQ(names[0], QStringLiteral("Strich"));
    EXPECT_EQ(names[7], QStringLiteral("Goblin"));
    EXPECT_EQ(names[8], QStringLiteral("Eins"));
    EXPECT_EQ(names[9], QStringLiteral("Zwei"));

    const TwoEffectsCall& call = lastCall(host.plugins()[1]);
    Picture picture = randomPicture();
    EffectImage image = picture.image();
    host.RunEffect(9, image, picture.bytes.data(), 1);
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(call.index, 0);
    EXPECT_EQ(call.phase, 1);
    EXPECT_EQ(call.image, &image);
    EXPECT_EQ(call.pixels, picture.bytes.data());
    host.RunEffect(10, image, picture.bytes.data(), 0);
    EXPECT_EQ(call.calls, 2);
    EXPECT_EQ(call.index, 1);
    EXPECT_EQ(call.phase, 0);

    // Effect 8 is Effekt's last one and does not reach the second library.
    host.RunEffect(8, image, picture.bytes.data(), 0);
    EXPECT_EQ(call.calls, 2);
    EXPECT_TRUE(samePixels(reference::blockHalftone(randomPicture()), picture));
}

// With TwoEffects first, Effekt's effects follow from 3 on; 0 and numbers past the
// last effect call nothing (a miscount would reach TwoEffects with index -1 or 2).
TEST(EffectHostLoading, RunsTheSelectedEffectOnly)
{
    EffectHost host;
    ASSERT_TRUE(host.LoadEffectPlugin("TwoEffects.dll"));
    ASSERT_TRUE(host.LoadEffectPlugin());
    const TwoEffectsCall& call = lastCall(host.plugins()[0]);
    const int callsBefore = call.calls;

    for (int index = 0; index < 8; ++index)
        for (const int phase : {0, 1}) {
            Picture picture = randomPicture();
            EffectImage image = picture.image();
            host.RunEffect(3 + index, image, picture.bytes.data(), phase);
            EXPECT_TRUE(samePixels(reference::run(index, randomPicture(), phase), picture))
                << "effect " << 3 + index << ", phase " << phase;
        }
    for (const int effect : {0, -1, 11, 12}) {
        Picture picture = randomPicture();
        EffectImage image = picture.image();
        host.RunEffect(effect, image, picture.bytes.data(), 0);
        EXPECT_TRUE(samePixels(randomPicture(), picture)) << "effect " << effect;
    }
    EXPECT_EQ(call.calls, callsBefore);
}

TEST(EffectHostLoading, FreesEveryLibrary)
{
    const fs::path effekt = besideTests("Effekt.dll");
    const fs::path twoEffects = besideTests("TwoEffects.dll");
    {
        EffectHost host;
        ASSERT_TRUE(host.LoadEffectPlugin());
        ASSERT_TRUE(host.LoadEffectPlugin("TwoEffects.dll"));
        ASSERT_TRUE(isLoaded(effekt));
        ASSERT_TRUE(isLoaded(twoEffects));
        host.FreeAll();
        EXPECT_FALSE(isLoaded(effekt));
        EXPECT_FALSE(isLoaded(twoEffects));
        EXPECT_TRUE(host.plugins().empty());
        EXPECT_EQ(host.effectCount(), 0);
        EXPECT_TRUE(host.effectNames().isEmpty());

        Picture picture = randomPicture();
        EffectImage image = picture.image();
        host.RunEffect(1, image, picture.bytes.data(), 0);
        EXPECT_TRUE(samePixels(randomPicture(), picture));

        ASSERT_TRUE(host.LoadEffectPlugin("TwoEffects.dll"));
        ASSERT_TRUE(isLoaded(twoEffects));
    }
    EXPECT_FALSE(isLoaded(twoEffects)) << "the destructor did not free the library";
}

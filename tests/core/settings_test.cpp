#include "core/settings.h"

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/messages.h"
#include "platform/registry.h"
#include "temp_store.h"

namespace fs = std::filesystem;

namespace {

const char* const text122 = "Cannot open or create the registry key! Try to reboot your computer.";
const char* const text124 = "Cannot save the registry value! Try to reboot your computer.";

// The persisted fields by value name, in the stored order.
struct Field {
    const char* name;
    size_t offset;
    size_t size;
};
const Field fields[] = {
    {"dstRate", offsetof(ConversionSettings, dstRate), 8},     {"srcSpeed", offsetof(ConversionSettings, srcSpeed), 8},
    {"intMethod", offsetof(ConversionSettings, intMethod), 4}, {"intRange", offsetof(ConversionSettings, intRange), 8},
    {"deint", offsetof(ConversionSettings, deint), 4},         {"deintRes", offsetof(ConversionSettings, deintRes), 4},
    {"segment", offsetof(ConversionSettings, segment), 4},     {"aspect", offsetof(ConversionSettings, aspect), 4},
    {"letterbox", offsetof(ConversionSettings, letterbox), 4}, {"intDup", offsetof(ConversionSettings, intDup), 4},
    {"intDupThr", offsetof(ConversionSettings, intDupThr), 4}, {"pOptions", offsetof(ConversionSettings, pOptions), 44},
    {"cutAware", offsetof(ConversionSettings, cutAware), 4},
};

std::vector<BYTE> FieldBytes(const ConversionSettings& settings, const Field& field) {
    const BYTE* start = reinterpret_cast<const BYTE*>(&settings) + field.offset;
    return {start, start + field.size};
}

ConversionSettings Zeroed() {
    ConversionSettings settings;
    std::memset(&settings, 0, sizeof settings);
    return settings;
}

// Every persisted field away from its default (and some outside what the
// dialog produces: nothing is validated on the way through the store).
ConversionSettings Custom() {
    ConversionSettings settings = Zeroed();
    settings.dstRate = 29.97;
    settings.srcSpeed = 0.00001;
    settings.intMethod = static_cast<InterpolationMethod>(42);
    settings.intRange = 0.37;
    settings.deint = DeinterlaceMode::OddFields;
    settings.deintRes = InterlaceResampleMethod::Lanczos;
    settings.segment = 0;
    settings.aspect = AspectPreset::Custom;
    settings.letterbox = LetterboxMode::ImageKept;
    settings.intDup = 1;
    settings.intDupThr = -3;
    settings.cutAware = 1;
    settings.pOptions.fccType = streamtypeVIDEO;
    settings.pOptions.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
    settings.pOptions.dwKeyFrameEvery = 12;
    settings.pOptions.dwQuality = 7500;
    settings.pOptions.dwBytesPerSecond = 123456;
    settings.pOptions.dwFlags = AVICOMPRESSF_VALID | AVICOMPRESSF_DATARATE;
    settings.pOptions.cbFormat = 40;
    settings.pOptions.dwInterleaveEvery = 1000;
    return settings;
}

int endCode = -1;
int endCount = 0;
void RecordEnd(int code) {
    endCode = code;
    ++endCount;
}

class SettingsTest : public TempStoreTest {
protected:
    void SetUp() override {
        TempStoreTest::SetUp();
        user.context = &recorder;
        user.messageBox = PresentToRecorder;
        user.endProcess = [](void*, int code) { RecordEnd(code); };
        endCode = -1;
        endCount = 0;
    }
    void TearDown() override { TempStoreTest::TearDown(); }

    std::string KeyFile() const { return root + "/HKEY_LOCAL_MACHINE/Software/Norvane Software/Tavrick.reg"; }

    // Rewrites the key file without the lines of the named values.
    void RemoveValues(const std::vector<std::string>& names) {
        std::string text = ReadText(KeyFile());
        for (const std::string& name : names) {
            size_t at = text.find("\"" + name + "\"=");
            ASSERT_NE(at, std::string::npos) << name;
            text.erase(at, text.find('\n', at) + 1 - at);
        }
        WriteText(KeyFile(), text);
    }

    static void SetValue(const char* name, DWORD type, const std::vector<BYTE>& data) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, settingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    static std::pair<DWORD, std::vector<BYTE>> StoredValue(const char* name) {
        HKEY key = nullptr;
        std::vector<BYTE> data(256);
        DWORD type = 0, size = 256;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, settingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {0, {}};
        LONG status = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return {0, {}};
        data.resize(size);
        return {type, data};
    }

    void ExpectOneFailure(HWND owner, const char* text) {
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.boxes[0].owner, owner);
        EXPECT_EQ(recorder.boxes[0].caption, "Tavrick");
        EXPECT_EQ(recorder.boxes[0].text, text);
        EXPECT_EQ(recorder.boxes[0].style, MB_ICONERROR | MB_TASKMODAL);
        EXPECT_EQ(endCode, 255);
        EXPECT_EQ(endCount, 1);
    }

    MessageBoxRecorder recorder;
    UserCalls user;  // boxes to the recorder, the process end to RecordEnd
};

TEST_F(SettingsTest, FirstRunCreatesTheKeyAndTakesEveryDefault) {
    ConversionSettings settings = Zeroed();
    std::strcpy(settings.sourcePath, "source.avi");
    settings.outputHeight = 77;
    ASSERT_TRUE(LoadSettings(user, settings));
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(endCount, 0);
    EXPECT_TRUE(fs::is_regular_file(KeyFile())) << "the key is created on the first run";

    EXPECT_EQ(settings.dstRate, 25.0);
    EXPECT_EQ(settings.srcSpeed, 1.0);
    EXPECT_EQ(settings.intMethod, InterpolationMethod::Lansin2);
    EXPECT_EQ(settings.intRange, 1.0);
    EXPECT_STREQ(DeinterlaceModeLabel(settings.deint), "Both fields (bottom first)");
    EXPECT_STREQ(InterlaceResampleMethodLabel(settings.deintRes), "Interlaced (bottom first)");
    EXPECT_EQ(settings.segment, 1);
    EXPECT_STREQ(AspectPresetLabel(settings.aspect), "4:3 PAL");
    EXPECT_EQ(settings.letterbox, LetterboxMode::None);
    EXPECT_EQ(settings.intDup, 0);
    EXPECT_EQ(settings.intDupThr, 5);
    const std::vector<BYTE> defaultOptions = {
        0x76, 0x69, 0x64, 0x73, 0x44, 0x49, 0x42, 0x20, 30, 0, 0, 0, 0x10, 0x27, 0, 0, 0, 0, 0, 0, 13, 0,
        0,    0,    0,    0,    0,    0,    0,    0,    0,  0, 0, 0, 0,    0,    0, 0, 0, 0, 0, 0, 0,  0};
    EXPECT_EQ(FieldBytes(settings, fields[11]), defaultOptions);
    // The run-time fields are not the store's business.
    EXPECT_STREQ(settings.sourcePath, "source.avi");
    EXPECT_EQ(settings.outputHeight, 77);
}

TEST_F(SettingsTest, SaveStoresEachFieldAsItsMemoryImageInOrder) {
    int owner = 0;
    ASSERT_TRUE(SaveSettings(user, &owner, DefaultSettings()));
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(ReadText(KeyFile()),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Norvane Software\\Tavrick]\n"
              "\"dstRate\"=hex(4):00,00,00,00,00,00,39,40\n"
              "\"srcSpeed\"=hex(4):00,00,00,00,00,00,f0,3f\n"
              "\"intMethod\"=hex(4):06,00,00,00\n"
              "\"intRange\"=hex(4):00,00,00,00,00,00,f0,3f\n"
              "\"deint\"=hex(4):02,00,00,00\n"
              "\"deintRes\"=hex(4):01,00,00,00\n"
              "\"segment\"=hex(4):01,00,00,00\n"
              "\"aspect\"=hex(4):02,00,00,00\n"
              "\"letterbox\"=hex(4):00,00,00,00\n"
              "\"intDup\"=hex(4):00,00,00,00\n"
              "\"intDupThr\"=hex(4):05,00,00,00\n"
              "\"pOptions\"=hex:76,69,64,73,44,49,42,20,1e,00,00,00,10,27,00,00,00,00,00,00,"
              "0d,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00\n"
              "\"cutAware\"=hex(4):00,00,00,00\n");
    auto [type, data] = StoredValue("dstRate");
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data.size(), 8u);
}

TEST_F(SettingsTest, SavedFieldsLoadBackUnchangedAndUnvalidated) {
    const ConversionSettings saved = Custom();
    ASSERT_TRUE(SaveSettings(user, nullptr, saved));
    ConversionSettings loaded = Zeroed();
    ASSERT_TRUE(LoadSettings(user, loaded));
    for (const Field& field : fields) EXPECT_EQ(FieldBytes(loaded, field), FieldBytes(saved, field)) << field.name;
    EXPECT_EQ(static_cast<int>(loaded.intMethod), 42);
    EXPECT_EQ(loaded.intDupThr, -3);
}

TEST_F(SettingsTest, SavingUnchangedSettingsRewritesTheSameBytes) {
    // A key as a person might have typed it: dword: forms, another order.
    WriteText(KeyFile(),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Norvane Software\\Tavrick]\n"
              "\"intDupThr\"=dword:00000009\n"
              "\"intMethod\"=dword:00000003\n"
              "\"dstRate\"=hex(4):00,00,00,00,00,00,49,40\n");
    ConversionSettings settings = Zeroed();
    ASSERT_TRUE(LoadSettings(user, settings));
    std::vector<std::pair<DWORD, std::vector<BYTE>>> before;
    for (const char* name : {"intDupThr", "intMethod", "dstRate"}) before.push_back(StoredValue(name));
    ASSERT_TRUE(SaveSettings(user, nullptr, settings));
    EXPECT_EQ(StoredValue("intDupThr"), before[0]);
    EXPECT_EQ(StoredValue("intMethod"), before[1]);
    EXPECT_EQ(StoredValue("dstRate"), before[2]);
    const std::string first = ReadText(KeyFile());
    ASSERT_TRUE(SaveSettings(user, nullptr, settings));
    EXPECT_EQ(ReadText(KeyFile()), first);
    EXPECT_EQ(settings.dstRate, 50.0);
}

TEST_F(SettingsTest, EachMissingValueRevertsOnlyItsOwnField) {
    const ConversionSettings custom = Custom();
    const ConversionSettings defaults = DefaultSettings();
    for (const Field& missing : fields) {
        ASSERT_TRUE(SaveSettings(user, nullptr, custom));
        RemoveValues({missing.name});
        ConversionSettings loaded = Zeroed();
        ASSERT_TRUE(LoadSettings(user, loaded));
        for (const Field& field : fields)
            EXPECT_EQ(FieldBytes(loaded, field), FieldBytes(&field == &missing ? defaults : custom, field))
                << field.name << " with " << missing.name << " missing";
    }
}

TEST_F(SettingsTest, ValueThatDoesNotFillItsFieldExactlyTakesTheDefault) {
    const ConversionSettings custom = Custom();
    const ConversionSettings defaults = DefaultSettings();
    struct Case {
        const char* name;
        size_t size;
    };
    // Larger than the field, and shorter (a shorter value counts as missing).
    const Case cases[] = {{"dstRate", 12},  {"dstRate", 4},   {"intMethod", 8}, {"intMethod", 2},
                          {"pOptions", 48}, {"pOptions", 40}, {"segment", 0}};
    for (const Case& c : cases) {
        ASSERT_TRUE(SaveSettings(user, nullptr, custom));
        SetValue(c.name, REG_DWORD, std::vector<BYTE>(c.size, 0x11));
        ConversionSettings loaded = Zeroed();
        ASSERT_TRUE(LoadSettings(user, loaded));
        for (const Field& field : fields) {
            bool hit = std::strcmp(field.name, c.name) == 0;
            EXPECT_EQ(FieldBytes(loaded, field), FieldBytes(hit ? defaults : custom, field))
                << field.name << " with " << c.name << " of " << c.size << " bytes";
        }
    }
}

TEST_F(SettingsTest, FittingValueOfAnotherTypeIsTakenByteForByte) {
    double rate = 50.0;
    std::vector<BYTE> rateBytes(8);
    std::memcpy(rateBytes.data(), &rate, 8);
    SetValue("dstRate", REG_QWORD, rateBytes);
    SetValue("intMethod", REG_BINARY, {3, 0, 0, 0});
    SetValue("intDupThr", REG_SZ, {'a', 'b', 'c', 0});
    AVICOMPRESSOPTIONS options = DefaultCompressOptions();
    options.fccHandler = mmioFOURCC('F', 'F', 'V', '1');
    std::vector<BYTE> optionBytes(44);
    std::memcpy(optionBytes.data(), &options, 44);
    SetValue("pOptions", REG_DWORD, optionBytes);

    ConversionSettings loaded = Zeroed();
    ASSERT_TRUE(LoadSettings(user, loaded));
    EXPECT_EQ(loaded.dstRate, 50.0);
    EXPECT_EQ(loaded.intMethod, InterpolationMethod::Cubic);
    EXPECT_EQ(loaded.intDupThr, 0x00636261);
    EXPECT_EQ(loaded.pOptions.fccHandler, mmioFOURCC('F', 'F', 'V', '1'));
}

TEST_F(SettingsTest, PointerSlotsNeverCarryAnAddress) {
    ConversionSettings inMemory = Custom();
    inMemory.pOptions.lpFormat = 0x12345678;
    inMemory.pOptions.lpParms = 0x9ABCDEF0;
    inMemory.pOptions.cbParms = 8;
    ASSERT_TRUE(SaveSettings(user, nullptr, inMemory));
    EXPECT_EQ(inMemory.pOptions.lpFormat, 0x12345678u) << "saving leaves the record in use alone";
    std::vector<BYTE> stored = StoredValue("pOptions").second;
    ASSERT_EQ(stored.size(), 44u);
    for (int i : {24, 25, 26, 27, 32, 33, 34, 35}) EXPECT_EQ(stored[i], 0) << "byte " << i;
    EXPECT_EQ(stored[28], 40) << "the sizes are kept";

    // Slots filled by someone else are cleared on load; the sizes stay.
    std::memcpy(&stored[24], &inMemory.pOptions.lpFormat, 4);
    std::memcpy(&stored[32], &inMemory.pOptions.lpParms, 4);
    SetValue("pOptions", REG_BINARY, stored);
    ConversionSettings loaded = Zeroed();
    ASSERT_TRUE(LoadSettings(user, loaded));
    EXPECT_EQ(loaded.pOptions.lpFormat, 0u);
    EXPECT_EQ(loaded.pOptions.lpParms, 0u);
    EXPECT_EQ(loaded.pOptions.cbFormat, 40u);
    EXPECT_EQ(loaded.pOptions.cbParms, 8u);
    EXPECT_EQ(loaded.pOptions.dwQuality, 7500u);
}

TEST_F(SettingsTest, KeyThatCannotBeOpenedOrCreatedShows122AndEnds255) {
    WriteText(root, "a file where the store's folder should be");
    ConversionSettings settings = Zeroed();
    EXPECT_FALSE(LoadSettings(user, settings));
    ExpectOneFailure(nullptr, text122);
    EXPECT_EQ(settings.dstRate, 0.0) << "nothing is loaded after the failure";

    // The same at save, the box owned by the dialog.
    recorder.boxes.clear();
    endCount = 0;
    int dialog = 0;
    EXPECT_FALSE(SaveSettings(user, &dialog, DefaultSettings()));
    ExpectOneFailure(&dialog, text122);
    fs::remove(root);

    // A key file that exists but can't be read: neither open nor create helps.
    recorder.boxes.clear();
    endCount = 0;
    fs::create_directories(KeyFile());
    EXPECT_FALSE(LoadSettings(user, settings));
    ExpectOneFailure(nullptr, text122);
}

TEST_F(SettingsTest, FirstFailedWriteStopsTheSaveWithMessage124) {
    // A key holding only the first five values: saving rewrites those in place
    // and must grow the file for the sixth, which the file-size limit refuses.
    ASSERT_TRUE(SaveSettings(user, nullptr, DefaultSettings()));
    RemoveValues({"deintRes", "segment", "aspect", "letterbox", "intDup", "intDupThr", "pOptions", "cutAware"});
    rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit lowered = saved;
    lowered.rlim_cur = fs::file_size(KeyFile()) + 1;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &lowered);
    int dialog = 0;
    const ConversionSettings custom = Custom();
    bool saveResult = SaveSettings(user, &dialog, custom);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(saveResult);
    ExpectOneFailure(&dialog, text124);
    for (size_t i = 0; i < std::size(fields); ++i) {
        auto [type, data] = StoredValue(fields[i].name);
        if (i < 5) {
            EXPECT_EQ(data, FieldBytes(custom, fields[i])) << fields[i].name << " keeps its new contents";
        } else {
            EXPECT_TRUE(data.empty()) << fields[i].name << " was never written";
        }
    }
}

TEST_F(SettingsTest, WithoutHandlersAFailureEndsTheProcessWith255OnStandardError) {
    WriteText(root, "a file where the store's folder should be");
    EXPECT_EXIT(
        {
            ConversionSettings settings = Zeroed();
            LoadSettings(UserCalls{}, settings);
        },
        ::testing::ExitedWithCode(255), "Tavrick: Cannot open or create the registry key!");
}

TEST_F(SettingsTest, DeletedSettingsStartOverFromTheDefaults) {
    ASSERT_TRUE(SaveSettings(user, nullptr, Custom()));
    DeleteSettings();
    EXPECT_FALSE(fs::exists(KeyFile()));
    DeleteSettings();  // nothing left to delete: still silent
    ConversionSettings loaded = Zeroed();
    ASSERT_TRUE(LoadSettings(user, loaded));
    const ConversionSettings defaults = DefaultSettings();
    for (const Field& field : fields) EXPECT_EQ(FieldBytes(loaded, field), FieldBytes(defaults, field)) << field.name;
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(endCount, 0);
}

}  // namespace

TEST_F(SettingsTest, StoreThatCanOnlyBeReadStillLoads) {
    const ConversionSettings custom = Custom();
    ASSERT_TRUE(SaveSettings(user, nullptr, custom));
    fs::permissions(base, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    // Another user, who may read the store but not write it (as the files of
    // a read-only store are to everybody).
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(90);
        ConversionSettings loaded = Zeroed();
        if (!LoadSettings(user, loaded)) _exit(1);
        for (const Field& field : fields)
            if (FieldBytes(loaded, field) != FieldBytes(custom, field)) _exit(2);
        _exit(recorder.boxes.empty() ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SettingsTest, HandEditedValuesOutOfRangeGoBackToTheirDefaults) {
    const ConversionSettings defaults = DefaultSettings();
    // Rates and speeds that are no number, or outside the dialog's bounds.
    for (double bad : {std::nan(""), 0.0, -25.0, HUGE_VAL, -HUGE_VAL, 1e6}) {
        ConversionSettings s = defaults;
        s.dstRate = bad;
        s.srcSpeed = bad;
        const std::vector<SettingCorrection> changed = BringSettingsIntoRange(s);
        ASSERT_EQ(changed.size(), 2u) << bad;
        EXPECT_EQ(s.dstRate, 25.0) << bad;
        EXPECT_EQ(s.srcSpeed, 1.0) << bad;
    }

    // Every field at once, through the store as a person could edit it.
    ConversionSettings edited = Custom();
    edited.dstRate = std::nan("");
    edited.intMethod = static_cast<InterpolationMethod>(99);
    edited.intRange = -0.5;
    edited.deint = static_cast<DeinterlaceMode>(-1);
    edited.deintRes = static_cast<InterlaceResampleMethod>(7);
    edited.segment = 7;
    edited.aspect = static_cast<AspectPreset>(17);
    edited.letterbox = static_cast<LetterboxMode>(3);
    ASSERT_TRUE(SaveSettings(user, nullptr, edited));
    ConversionSettings loaded = Zeroed();
    ASSERT_TRUE(LoadSettings(user, loaded));
    const std::vector<SettingCorrection> changed = BringSettingsIntoRange(loaded);
    std::vector<std::string> texts;
    for (const SettingCorrection& c : changed) texts.push_back(SettingCorrectionText(c));
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "dstRate nan is out of range; using 25", "intMethod 99 is out of range; using 6",
                         "intRange -0.5 is out of range; using 1", "deint -1 is out of range; using 2",
                         "deintRes 7 is out of range; using 1", "segment 7 is out of range; using 1",
                         "aspect 17 is out of range; using 2", "letterbox 3 is out of range; using 0",
                         "intDupThr -3 is out of range; using 5"}));
    // What the dialog can give stays as it is, the bounds included.
    EXPECT_EQ(loaded.srcSpeed, 0.00001);
    EXPECT_EQ(loaded.pOptions.fccHandler, edited.pOptions.fccHandler);
    EXPECT_TRUE(BringSettingsIntoRange(loaded).empty());
    ConversionSettings bounds = defaults;
    bounds.dstRate = 32767;
    bounds.srcSpeed = 327.67;
    bounds.intRange = 0;  // a typed 0 % is taken
    EXPECT_TRUE(BringSettingsIntoRange(bounds).empty());
}

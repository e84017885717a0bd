// The main dialog's fields and the settings, typed for real: live cleaning of
// the rate and speed fields, clamping on leaving them, the spins, the check
// boxes and the greyed controls.

#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "app/binding.h"
#include "app/main_dialog.h"
#include "platform/registry.h"
#include "tests/app/gui_fixture.h"

namespace {

class Binding : public MainDialogTest {
protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        OpenMainDialog();
    }
    void Type(int id, const char* keys) { QTest::keyClicks(Item(id), keys); }
    void Key(int id, Qt::Key key) { QTest::keyClick(Item(id), key); }
    void Leave(int id) { QTest::keyClick(Item(id), Qt::Key_Tab); }
    int Caret(int id) const { return static_cast<QLineEdit*>(Item(id))->cursorPosition(); }
    void Step(int spin, Qt::ArrowType direction) {
        for (QToolButton* arrow : Item(spin)->findChildren<QToolButton*>())
            if (arrow->arrowType() == direction) QTest::mouseClick(arrow, Qt::LeftButton);
    }
    const ConversionSettings& settings() const { return appState.settings; }
};

TEST_F(Binding, TypedRatesAreCleanedAsTheyAreTyped) {
    Retype(IDC_RATE, "12,5");
    EXPECT_EQ(Text(IDC_RATE), "12.5");
    EXPECT_EQ(settings().dstRate, 12.5);

    // A letter inside a complete number vanishes and the caret stays put.
    Key(IDC_RATE, Qt::Key_Left);
    Type(IDC_RATE, "x");
    EXPECT_EQ(Text(IDC_RATE), "12.5");
    EXPECT_EQ(Caret(IDC_RATE), 3);

    // A cleared field stays empty while typed into: 30 gives 30, not 300,
    // and a minus sign waits for the digits, which replace it.
    Retype(IDC_RATE, "");
    EXPECT_EQ(Text(IDC_RATE), "");
    EXPECT_EQ(settings().dstRate, 12.5);
    Type(IDC_RATE, "30");
    EXPECT_EQ(Text(IDC_RATE), "30");
    EXPECT_EQ(settings().dstRate, 30);
    Retype(IDC_RATE, "-");
    EXPECT_EQ(Text(IDC_RATE), "-");
    Type(IDC_RATE, "7");
    EXPECT_EQ(Text(IDC_RATE), "7");
    EXPECT_EQ(Caret(IDC_RATE), 1);
    Retype(IDC_SPEED, "");
    Type(IDC_SPEED, "50");
    EXPECT_EQ(Text(IDC_SPEED), "50");
    EXPECT_DOUBLE_EQ(settings().srcSpeed, 0.5);
    // Left empty, the field reads as 0 and is written back clamped.
    Retype(IDC_RATE, "");
    Leave(IDC_RATE);
    EXPECT_EQ(settings().dstRate, 0.001);
    EXPECT_EQ(Text(IDC_RATE), "0.001");
    Item(IDC_RATE)->setFocus();
    Retype(IDC_RATE, "12.5");

    // Unfinished numbers stay as typed and the setting keeps its value.
    Retype(IDC_RATE, "25.");
    EXPECT_EQ(Text(IDC_RATE), "25.");
    Retype(IDC_RATE, "29.0");
    EXPECT_EQ(Text(IDC_RATE), "29.0");
    EXPECT_EQ(settings().dstRate, 29);
    Type(IDC_RATE, "5");
    EXPECT_EQ(Text(IDC_RATE), "29.05");  // decimals starting with 0 stay unfinished while typed
    Leave(IDC_RATE);
    EXPECT_EQ(settings().dstRate, 29.05);
    Item(IDC_RATE)->setFocus();

    // A trailing 0 after a decimal vanishes at once.
    Retype(IDC_RATE, "29.105");
    EXPECT_EQ(Text(IDC_RATE), "29.15");
    Retype(IDC_RATE, "29.9999");
    EXPECT_EQ(Text(IDC_RATE), "30");
    Retype(IDC_RATE, "12.3456");
    EXPECT_EQ(Text(IDC_RATE), "12.346");

    Retype(IDC_RATE, "25.");
    Leave(IDC_RATE);
    EXPECT_EQ(Text(IDC_RATE), "25");
}

TEST_F(Binding, LeavingADecimalFieldClampsIt) {
    Retype(IDC_RATE, "0");
    Leave(IDC_RATE);
    EXPECT_EQ(settings().dstRate, 0.001);
    EXPECT_EQ(Text(IDC_RATE), "0.001");
    Retype(IDC_RATE, "50000");
    Leave(IDC_RATE);
    EXPECT_EQ(settings().dstRate, 32767);
    EXPECT_EQ(Text(IDC_RATE), "32767");

    Retype(IDC_SPEED, "0");
    Leave(IDC_SPEED);
    EXPECT_EQ(settings().srcSpeed, 0.00001);
    EXPECT_EQ(Text(IDC_SPEED), "0.001");
    Retype(IDC_SPEED, "40000");
    Leave(IDC_SPEED);
    EXPECT_EQ(settings().srcSpeed, 327.67);
    EXPECT_EQ(Text(IDC_SPEED), "32767");

    // The range is taken as typed, 0 included, and shown as stored.
    Retype(IDC_RANGE, "29");
    Leave(IDC_RANGE);
    EXPECT_DOUBLE_EQ(settings().intRange, 0.29);
    EXPECT_EQ(Text(IDC_RANGE), "29");
    Retype(IDC_RANGE, "0");
    Leave(IDC_RANGE);
    EXPECT_EQ(settings().intRange, 0);
    EXPECT_EQ(Text(IDC_RANGE), "0");
}

TEST_F(Binding, SpinsStepFromTheRefreshedPosition) {
    Retype(IDC_RATE, "29.97");
    Step(IDC_RATE_SPIN, Qt::UpArrow);
    EXPECT_EQ(settings().dstRate, 30);
    EXPECT_EQ(Text(IDC_RATE), "30");
    Retype(IDC_RATE, "29.97");
    Step(IDC_RATE_SPIN, Qt::DownArrow);
    EXPECT_EQ(Text(IDC_RATE), "28");

    Retype(IDC_SPEED, "99.5");
    Key(IDC_SPEED, Qt::Key_Up);  // the arrow keys of the field step its spin
    EXPECT_EQ(Text(IDC_SPEED), "101");
    EXPECT_DOUBLE_EQ(settings().srcSpeed, 1.01);
}

TEST_F(Binding, LetterboxBoxesExcludeEachOther) {
    Click(IDC_LETTERBOX_IMAGE);
    EXPECT_EQ(settings().letterbox, LetterboxMode::FrameKept);
    Click(IDC_LETTERBOX_FRAME);
    EXPECT_EQ(settings().letterbox, LetterboxMode::ImageKept);
    EXPECT_FALSE(IsDlgButtonChecked(dialog, IDC_LETTERBOX_IMAGE));
    Click(IDC_LETTERBOX_FRAME);
    EXPECT_EQ(settings().letterbox, LetterboxMode::None);
    EXPECT_FALSE(IsDlgButtonChecked(dialog, IDC_LETTERBOX_IMAGE));
    EXPECT_FALSE(IsDlgButtonChecked(dialog, IDC_LETTERBOX_FRAME));
}

TEST_F(Binding, MethodsAndTheSourceGreyTheirControls) {
    struct Case {
        InterpolationMethod method;
        bool range;
    };
    for (Case c : {Case{InterpolationMethod::Coarse, false}, Case{InterpolationMethod::Linear, true},
                   Case{InterpolationMethod::Lansin2, true}, Case{InterpolationMethod::Median3, false},
                   Case{InterpolationMethod::Median5, false}, Case{InterpolationMethod::Motion, true}}) {
        SetListSelection(dialog, IDC_METHOD, static_cast<int>(c.method));
        ReadMainDialog(dialog, 0, 0);  // as a completed list choice does
        EXPECT_EQ(IsDlgItemEnabled(dialog, IDC_RANGE), c.range) << static_cast<int>(c.method);
        EXPECT_EQ(IsDlgItemEnabled(dialog, IDC_RANGE_SPIN), c.range);
    }
    // Motion is the list's last entry, at its stored number.
    EXPECT_EQ(GetListCount(dialog, IDC_METHOD), static_cast<int>(InterpolationMethod::Motion) + 1);
    // No source: the height stays greyed whatever the preset.
    SetListSelection(dialog, IDC_ASPECT, static_cast<int>(AspectPreset::Custom));
    ReadMainDialog(dialog, 0, 0);
    EXPECT_FALSE(IsDlgItemEnabled(dialog, IDC_HEIGHT));
    EXPECT_FALSE(IsDlgItemEnabled(dialog, IDC_HEIGHT_SPIN));
    // The hidden duplicate-frame controls are still bound and enabled by their box.
    EXPECT_FALSE(IsDlgItemEnabled(dialog, IDC_THRESHOLD));
    CheckDlgButton(dialog, IDC_DUPLICATES, true);
    ReadMainDialog(dialog, IDC_DUPLICATES, -1);
    RefreshMainDialog(dialog, false);
    EXPECT_EQ(settings().intDup, 1);
    EXPECT_TRUE(IsDlgItemEnabled(dialog, IDC_THRESHOLD));
    EXPECT_FALSE(IsDlgItemShown(dialog, IDC_THRESHOLD));
    // The 2 GB split applies to AVI destinations only; leaving the field applies a typed name.
    for (auto [name, splits] : {std::pair{"out.MP4", false}, std::pair{"out.mkv", false}, std::pair{"out.avi", true}}) {
        Retype(IDC_DESTINATION_PATH, (base + "/" + name).c_str());
        Leave(IDC_DESTINATION_PATH);
        EXPECT_EQ(IsDlgItemEnabled(dialog, IDC_SEGMENT), splits) << name;
    }
}

TEST_F(Binding, OutputHeightFollowsThePresetAndTheSource) {
    ChooseSource(WriteTestClip(base + "/pal.avi", 720, 576, 2, false));
    ASSERT_TRUE(Messages().empty()) << Messages()[0];
    int low = 0, high = 0;
    GetSpinRange(dialog, IDC_HEIGHT_SPIN, &low, &high);
    EXPECT_EQ(low, 288);
    EXPECT_EQ(high, 32767);
    for (auto [preset, height] : {std::pair{AspectPreset::Tv4x3Pal, "576"}, std::pair{AspectPreset::Wide16x9, "405"},
                                  std::pair{AspectPreset::Square, "576"}}) {
        SetListSelection(dialog, IDC_ASPECT, static_cast<int>(preset));
        ReadMainDialog(dialog, 0, 0);
        EXPECT_EQ(Text(IDC_HEIGHT), height);
        EXPECT_FALSE(IsDlgItemEnabled(dialog, IDC_HEIGHT));
    }
    SetListSelection(dialog, IDC_ASPECT, static_cast<int>(AspectPreset::Custom));
    ReadMainDialog(dialog, 0, 0);
    ASSERT_TRUE(IsDlgItemEnabled(dialog, IDC_HEIGHT));
    Retype(IDC_HEIGHT, "300");
    Leave(IDC_HEIGHT);
    EXPECT_EQ(settings().outputHeight, 300);
    Retype(IDC_HEIGHT, "0");
    Leave(IDC_HEIGHT);
    EXPECT_EQ(Text(IDC_HEIGHT), "1");
    EXPECT_EQ(settings().outputHeight, 1);

    // A new source resets the typed height to its own.
    ChooseSource(WriteTestClip(base + "/small.avi", 64, 48, 2, false));
    EXPECT_EQ(Text(IDC_HEIGHT), "48");
}

TEST_F(Binding, HandEditedStoreValuesOutsideTheListsFallBackToDefaults) {
    DestroyWindow(dialog);
    dialog = nullptr;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, settingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::int32_t twelve = 12;
    const std::int32_t minusOne = -1;
    RegSetValueExA(key, "intMethod", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&twelve), 4);
    RegSetValueExA(key, "aspect", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&minusOne), 4);
    RegCloseKey(key);
    ConversionSettings loaded = DefaultSettings();
    ASSERT_TRUE(LoadSettings(AppUser(), loaded));
    EXPECT_EQ(GuardLoadedSettings(loaded), 2);
    EXPECT_EQ(loaded.intMethod, DefaultSettings().intMethod);
    EXPECT_EQ(loaded.aspect, DefaultSettings().aspect);

    // Without the guard, the dialog still never reads -1 into a setting.
    appState.settings.intMethod = static_cast<InterpolationMethod>(12);
    dialog = CreateDialogParamA(appState.instance, 101, nullptr, MainDialogProc, nullptr);
    EXPECT_EQ(GetListSelection(dialog, IDC_METHOD), -1);
    ReadMainDialog(dialog, 0, -1);
    EXPECT_EQ(static_cast<int>(appState.settings.intMethod), 12);
}

TEST(NumberText, CleaningAndFormatting) {
    char text[32] = "1a2,3.4";
    EXPECT_EQ(CleanNumberText(text, 5), 4);  // "a" before the caret
    EXPECT_STREQ(text, "12.34");
    char unfinished[] = "7.";
    EXPECT_EQ(CleanNumberText(unfinished, 2), -1);
    char zero[] = "7.05";
    EXPECT_EQ(CleanNumberText(zero, 4), -1);
    char sign[] = "-";
    EXPECT_EQ(CleanNumberText(sign, 1), -1);  // nothing left: unfinished
    EXPECT_EQ(FormatDecimal(25.0), "25");
    EXPECT_EQ(FormatDecimal(29.97), "29.97");
    EXPECT_EQ(FormatDecimal(0.001), "0.001");
    EXPECT_EQ(FormatDecimal(0.0004), "0");
}

}  // namespace

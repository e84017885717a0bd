// The about box: the side picture decoded from JPEG 2000 codestreams, the
// links that follow the pointer, the drag, and the links opened on release.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <openjpeg.h>

#include <gtest/gtest.h>

#include "app/about_box.h"
#include "app/app_state.h"
#include "app/binding.h"
#include "app/main_dialog.h"
#include "platform/module.h"
#include "platform/ui/common_dialogs.h"
#include "tests/app/gui_fixture.h"

namespace {

// --- codestreams made and read with OpenJPEG itself ---

// The codestream written into memory, with the seeks the encoder may make.
struct Written {
    std::string bytes;
    std::size_t at = 0;
};
OPJ_SIZE_T WriteBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* out = static_cast<Written*>(user);
    if (out->bytes.size() < out->at + count) out->bytes.resize(out->at + count);
    std::memcpy(&out->bytes[out->at], buffer, count);
    out->at += count;
    return count;
}
OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user) {
    static_cast<Written*>(user)->at += count;
    return count;
}
OPJ_BOOL SeekBytes(OPJ_OFF_T position, void* user) {
    static_cast<Written*>(user)->at = position;
    return OPJ_TRUE;
}
void Complain(const char* message, void*) { std::fprintf(stderr, "OpenJPEG: %s", message); }

// A lossless raw codestream of components of the given precision.
std::string Encode(int width, int height, int components, int precision,
                   const std::function<int(int, int, int)>& sample) {
    std::vector<opj_image_cmptparm_t> parts(components);
    for (auto& part : parts) {
        std::memset(&part, 0, sizeof part);
        part.dx = part.dy = 1;
        part.w = width;
        part.h = height;
        part.prec = precision;
    }
    opj_image_t* image =
        opj_image_create(components, parts.data(), components >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    image->x1 = width;
    image->y1 = height;
    for (int c = 0; c < components; ++c)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) image->comps[c].data[y * width + x] = sample(c, x, y);
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = 0;
    parameters.cp_disto_alloc = 1;
    parameters.numresolution = 1;  // pictures of a few pixels
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_set_error_handler(codec, Complain, nullptr);
    Written written;
    opj_stream_t* stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE);
    opj_stream_set_user_data(stream, &written, nullptr);
    opj_stream_set_write_function(stream, WriteBytes);
    opj_stream_set_skip_function(stream, SkipBytes);
    opj_stream_set_seek_function(stream, SeekBytes);
    bool done = opj_setup_encoder(codec, &parameters, image) && opj_start_compress(codec, image, stream) &&
                opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    EXPECT_TRUE(done);
    return written.bytes;
}

// OpenJPEG's own planes of a codestream, through a file.
opj_image_t* DecodeFile(const std::string& bytes) {
    std::string path = std::filesystem::temp_directory_path() / "tavrick-about-test.j2k";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), OPJ_TRUE);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* image = nullptr;
    bool done = opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &image) &&
                opj_decode(codec, stream, image) && opj_end_decompress(codec, stream);
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    std::filesystem::remove(path);
    EXPECT_TRUE(done);
    return image;
}

std::string ProgramResource(int id, const char* type) {
    HINSTANCE program = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(program, id, type);
    if (!resource) return {};
    return std::string(static_cast<const char*>(LockResource(LoadResource(program, resource))),
                       SizeofResource(program, resource));
}

int Sample(int c, int x, int y) { return (c * 60 + x * 7 + y * 3) & 0xFF; }

// A module of test pictures stands in for the program's while a test runs.
class ResourceImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ours = ProgramResource(IDR_SIDE_PICTURE, "J2KIMG");
        four = Encode(9, 5, 4, 8, Sample);
        two = Encode(7, 3, 2, 8, Sample);
        deep = Encode(4, 4, 3, 16, [](int c, int x, int y) { return Sample(c, x, y) * 200; });
        garbage = "this is not a JPEG 2000 codestream at all";
        const std::string* texts[] = {&ours, &four, &two, &deep, &garbage};
        for (int i = 0; i < 5; ++i)
            files[i] = {"J2KIMG", static_cast<std::uint16_t>(107 + i),
                        reinterpret_cast<const unsigned char*>(texts[i]->data()), texts[i]->size()};
        module.files = files;
        module.fileCount = 5;
        saved = appState.instance;
        appState.instance = &module;
    }
    void TearDown() override {
        appState.instance = saved;
        DeleteObject(slot);
    }

    std::string ours, four, two, deep, garbage;
    FileResource files[5];
    ResourceModule module{nullptr, 0};
    HINSTANCE saved = nullptr;
    HBITMAP slot = nullptr;
};

TEST_F(ResourceImageTest, OurPictureBecomesBottomUpBgrOfOpenJpegsPlanes) {
    ASSERT_FALSE(ours.empty()) << "the program carries no J2KIMG 107";
    ASSERT_EQ(LoadResourceImage(nullptr, 107, &slot), 0);
    const BITMAPINFOHEADER& header = slot->header;
    EXPECT_EQ(header.biSize, 40u);
    ASSERT_EQ(header.biWidth, 59);
    ASSERT_EQ(header.biHeight, 260);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, 0u);

    opj_image_t* image = DecodeFile(ours);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->numcomps, 3u);
    const std::size_t stride = (59 * 3 + 3) & ~3;  // 180
    ASSERT_EQ(slot->size, stride * 260);
    int mismatches = 0;
    for (int y = 0; y < 260; ++y)
        for (int x = 0; x < 59; ++x)
            for (int j = 0; j < 3; ++j)
                mismatches += slot->bits[(259 - y) * stride + x * 3 + j] != image->comps[2 - j].data[y * 59 + x];
    for (int y = 0; y < 260; ++y) mismatches += slot->bits[y * stride + 177] != 0;  // the row's padding
    opj_image_destroy(image);
    EXPECT_EQ(mismatches, 0);
}

TEST_F(ResourceImageTest, FourComponentsShowTheFirstThreeTwoShowTheFirstAsGrey) {
    ASSERT_EQ(LoadResourceImage(nullptr, 108, &slot), 0);
    ASSERT_EQ(slot->header.biBitCount, 24);
    ASSERT_EQ(slot->header.biWidth, 9);
    const int stride4 = (9 * 3 + 3) & ~3;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
            for (int j = 0; j < 3; ++j)
                ASSERT_EQ(slot->bits[(4 - y) * stride4 + x * 3 + j], Sample(2 - j, x, y)) << x << "," << y;

    // The same slot: the old bitmap is replaced.
    ASSERT_EQ(LoadResourceImage(nullptr, 109, &slot), 0);
    ASSERT_EQ(slot->header.biBitCount, 8);
    ASSERT_EQ(slot->header.biHeight, 3);
    ASSERT_EQ(slot->size, 8u * 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 7; ++x) EXPECT_EQ(slot->bits[(2 - y) * 8 + x], Sample(0, x, y));
        EXPECT_EQ(slot->bits[(2 - y) * 8 + 7], 0);
    }
}

TEST_F(ResourceImageTest, FailuresGiveTheirCodesAndLeaveTheSlotAlone) {
    EXPECT_EQ(LoadResourceImage(nullptr, 110, &slot), 5);  // 16-bit components
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(LoadResourceImage(nullptr, 111, &slot), 4);  // not a codestream
    EXPECT_EQ(LoadResourceImage(nullptr, 999, &slot), 1);  // no such resource
    files[4].size = 0;
    EXPECT_EQ(LoadResourceImage(nullptr, 111, &slot), 3);  // empty
    EXPECT_EQ(slot, nullptr);
}

// --- the box itself ---

class AboutBoxTest : public MainDialogTest {
protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        if (!appState.normalFont) CreateLabelFonts();
        QCursor::setPos(0, 0);
        box = CreateDialogParamA(appState.instance, IDD_ABOUT, nullptr, AboutBoxProc, nullptr);
        ASSERT_NE(box, nullptr);
        Widget()->move(300, 200);
        QApplication::processEvents();
    }
    void TearDown() override {
        if (box) DestroyWindow(box);
        MainDialogTest::TearDown();
    }
    QWidget* Widget() const { return static_cast<QWidget*>(box); }
    QWidget* Control(int id) const { return static_cast<QWidget*>(GetDlgItem(box, id)); }
    QPoint Centre(int id) const { return Control(id)->mapToGlobal(Control(id)->rect().center()); }
    QPoint Background() const { return Widget()->mapToGlobal(QPoint(4, Widget()->height() - 4)); }
    // A mouse event sent where the pointer is, to the widget under it.
    void Send(QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons held) {
        QCursor::setPos(global);
        QWidget* target = QApplication::widgetAt(global);
        if (!target || target->window() != Widget()) target = Widget();
        if (QWidget* grabber = QWidget::mouseGrabber()) target = grabber;
        QMouseEvent event(type, target->mapFromGlobal(global), global, button, held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }
    void MoveTo(QPoint global, Qt::MouseButtons held = Qt::NoButton) {
        Send(QEvent::MouseMove, global, Qt::NoButton, held);
    }
    static QColor TextColour(QWidget* w) { return w->palette().color(QPalette::WindowText); }

    HWND box = nullptr;
};

TEST_F(AboutBoxTest, ShowsTitleColoursTextAndPicture) {
    EXPECT_EQ(TextColour(Control(IDC_ABOUT_TITLE)), QColor(31, 127, 0));
    EXPECT_EQ(TextColour(Control(IDC_ABOUT_MAKER)), QColor(31, 127, 0));
    EXPECT_EQ(Control(IDC_ABOUT_TITLE)->font().weight(), 700);
    EXPECT_EQ(TextColour(Control(IDC_WEB_LINK)), QColor(0, 15, 127));
    auto* text = static_cast<QTextEdit*>(Control(IDC_ABOUT_TEXT));
    EXPECT_EQ(text->palette().color(QPalette::Base), QColor(255, 255, 191));
    EXPECT_TRUE(text->toPlainText().contains("OpenJPEG"));
    EXPECT_TRUE(text->toPlainText().contains("2.03c"));
    QPixmap picture = static_cast<QLabel*>(Control(IDC_SIDE_PICTURE))->pixmap();
    EXPECT_EQ(picture.size(), QSize(59, 260));
}

TEST_F(AboutBoxTest, LinkTurnsHotUnderThePointerAndColdAgainOnMoveOrTimer) {
    QWidget* web = Control(IDC_WEB_LINK);
    MoveTo(Centre(IDC_WEB_LINK));
    EXPECT_TRUE(aboutBox.webLinkHot);
    EXPECT_EQ(TextColour(web), QColor(0, 63, 255));
    EXPECT_TRUE(web->font().underline());
    EXPECT_EQ(Widget()->cursor().shape(), Qt::BitmapCursor);  // our hand

    MoveTo(Background());
    EXPECT_FALSE(aboutBox.webLinkHot);
    EXPECT_EQ(TextColour(web), QColor(0, 15, 127));
    EXPECT_FALSE(web->font().underline());
    EXPECT_EQ(Widget()->cursor().shape(), Qt::ArrowCursor);

    // Onto the mail link, then out of the box without a move it could see.
    MoveTo(Centre(IDC_MAIL_LINK));
    EXPECT_TRUE(aboutBox.mailLinkHot);
    QCursor::setPos(5, 5);
    QTest::qWait(700);
    EXPECT_FALSE(aboutBox.mailLinkHot);
    EXPECT_FALSE(Control(IDC_MAIL_LINK)->font().underline());
}

TEST_F(AboutBoxTest, AnyButtonDragsTheBoxAndAReleaseOverALinkOpensIt) {
    QPoint start = Widget()->pos();
    QPoint from = Background();
    Send(QEvent::MouseButtonPress, from, Qt::RightButton, Qt::RightButton);
    EXPECT_TRUE(aboutBox.dragging);
    MoveTo(from + QPoint(30, 20), Qt::RightButton);
    MoveTo(from + QPoint(40, 25), Qt::RightButton);
    Send(QEvent::MouseButtonRelease, from + QPoint(40, 25), Qt::RightButton, Qt::NoButton);
    EXPECT_FALSE(aboutBox.dragging);
    EXPECT_EQ(Widget()->pos(), start + QPoint(40, 25));
    EXPECT_TRUE(shell.files.empty()) << "a release off the links opens nothing";

    // Middle button pressed on the title, released over the mail link.
    Send(QEvent::MouseButtonPress, Centre(IDC_ABOUT_TITLE), Qt::MiddleButton, Qt::MiddleButton);
    MoveTo(Centre(IDC_MAIL_LINK), Qt::MiddleButton);
    Send(QEvent::MouseButtonRelease, Centre(IDC_MAIL_LINK), Qt::MiddleButton, Qt::NoButton);
    ASSERT_EQ(shell.files.size(), 1u);
    EXPECT_EQ(shell.files[0], "mailto:tavrick@example.org?subject=Tavrick%202.03c");

    // A left click on the web link opens the guide beside the program.
    Send(QEvent::MouseButtonPress, Centre(IDC_WEB_LINK), Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, Centre(IDC_WEB_LINK), Qt::LeftButton, Qt::NoButton);
    ASSERT_EQ(shell.files.size(), 2u);
    std::string guide = UserGuidePath(appState.programDirectory);
    std::replace(guide.begin(), guide.end(), '\\', '/');
    EXPECT_EQ(shell.files[1], "file://" + guide);
    EXPECT_EQ(shell.files[1].find('\\'), std::string::npos) << "a URL of this system's paths";
}

TEST_F(AboutBoxTest, EscapeEndsTheBox) {
    QTest::keyClick(Widget(), Qt::Key_Escape);
    EXPECT_FALSE(Widget()->isVisible());
    EXPECT_EQ(aboutBox.sidePicture, nullptr);
}

// The main dialog's "Ab&out..." runs the box modally; its OK ends it.
TEST_F(MainDialogTest, AboutButtonOpensTheAboutBox) {
    OpenMainDialog();
    if (!appState.normalFont) CreateLabelFonts();
    QString seen;
    QTimer::singleShot(0, [&] {
        QWidget* about = QApplication::activeModalWidget();
        seen = about ? about->objectName() : QString();
        if (about) static_cast<QAbstractButton*>(GetDlgItem(static_cast<HWND>(about), IDOK))->click();
    });
    Click(IDC_ABOUT);
    EXPECT_EQ(seen, "dialog108");
    EXPECT_FALSE(QApplication::windowIcon().isNull()) << "the program icon";
}

// The guide: beside the program (the build tree), else installed below ../share.
TEST_F(MainDialogTest, UserGuideBesideTheProgramFirstThenInstalled) {
    std::string bin = base + "/prefix/bin";
    std::filesystem::create_directories(bin);
    std::string directory = bin + "\\";
    EXPECT_EQ(UserGuidePath(directory.c_str()), directory + "Guide\\index.htm") << "neither: the first";
    WriteText(base + "/prefix/share/tavrick/Guide/index.htm", "<html></html>");
    EXPECT_EQ(UserGuidePath(directory.c_str()), base + "/prefix/share/tavrick/Guide/index.htm");
    WriteText(bin + "/Guide/index.htm", "<html></html>");
    EXPECT_EQ(UserGuidePath(directory.c_str()), directory + "Guide\\index.htm");
}

}  // namespace

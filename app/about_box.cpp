#include "app/about_box.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <openjpeg.h>

#include "app/app_state.h"
#include "app/main_dialog.h"
#include "platform/module.h"
#include "platform/ui/common_dialogs.h"

AboutBoxState aboutBox;

namespace {

constexpr COLORREF titleColour = RGB(31, 127, 0);
constexpr COLORREF linkColour = RGB(0, 15, 127);
constexpr COLORREF hotLinkColour = RGB(0, 63, 255);
constexpr COLORREF aboutTextBackground = RGB(255, 255, 191);

// The codestream read straight from the program's memory.
struct MemoryReader {
    const unsigned char* data;
    OPJ_OFF_T size;
    OPJ_OFF_T at;
};

OPJ_SIZE_T ReadMemory(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* reader = static_cast<MemoryReader*>(user);
    OPJ_OFF_T left = reader->size - reader->at;
    if (left <= 0) return static_cast<OPJ_SIZE_T>(-1);
    OPJ_SIZE_T taken = std::min(count, static_cast<OPJ_SIZE_T>(left));
    std::memcpy(buffer, reader->data + reader->at, taken);
    reader->at += static_cast<OPJ_OFF_T>(taken);
    return taken;
}

OPJ_OFF_T SkipMemory(OPJ_OFF_T count, void* user) {
    auto* reader = static_cast<MemoryReader*>(user);
    OPJ_OFF_T target = std::clamp<OPJ_OFF_T>(reader->at + count, 0, reader->size);
    OPJ_OFF_T skipped = target - reader->at;
    reader->at = target;
    return skipped;
}

OPJ_BOOL SeekMemory(OPJ_OFF_T position, void* user) {
    auto* reader = static_cast<MemoryReader*>(user);
    if (position < 0 || position > reader->size) return OPJ_FALSE;
    reader->at = position;
    return OPJ_TRUE;
}

opj_image_t* DecodeCodestream(const unsigned char* data, std::size_t size) {
    MemoryReader reader{data, static_cast<OPJ_OFF_T>(size), 0};
    opj_stream_t* stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_image_t* image = nullptr;
    bool decoded = false;
    if (stream && codec) {
        opj_stream_set_user_data(stream, &reader, nullptr);
        opj_stream_set_user_data_length(stream, size);
        opj_stream_set_read_function(stream, ReadMemory);
        opj_stream_set_skip_function(stream, SkipMemory);
        opj_stream_set_seek_function(stream, SeekMemory);
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        decoded = opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &image) &&
                  opj_decode(codec, stream, image) && opj_end_decompress(codec, stream);
    }
    if (codec) opj_destroy_codec(codec);
    if (stream) opj_stream_destroy(stream);
    if (!decoded && image) {
        opj_image_destroy(image);
        image = nullptr;
    }
    return image;
}

bool PointIn(HWND dialog, int id, int x, int y) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return false;
    PixelRect r = GetWindowRect(control);
    return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
}

void PaintLink(HWND dialog, int id, bool hot) {
    SetDlgItemFont(dialog, id, hot ? appState.underlinedFont : appState.normalFont);
    SetDlgItemColors(dialog, id, hot ? hotLinkColour : linkColour, GetSysColor(COLOR_BTNFACE));
}

HCURSOR HandCursor() {
    static HCURSOR hand = LoadCursorA(appState.instance, IDR_HAND_CURSOR);
    return hand;
}

void ShowSidePicture(HWND dialog) {
    const DibSection* picture = aboutBox.sidePicture;
    if (picture)
        SetDlgItemBitmap(dialog, IDC_SIDE_PICTURE, picture->header.biWidth, picture->header.biHeight,
                         picture->header.biBitCount, picture->bits);
    else
        SetDlgItemBitmap(dialog, IDC_SIDE_PICTURE, 0, 0, 0, nullptr);
}

void ShowAboutText(HWND dialog) {
    HRSRC resource = FindResourceA(appState.instance, IDR_ABOUT_TEXT, "HTML");
    const void* text = LockResource(LoadResource(appState.instance, resource));
    // The embedded text ends in a terminator; without it the panel stays empty.
    if (text) SetDlgItemRichText(dialog, IDC_ABOUT_TEXT, static_cast<const char*>(text));
    SetDlgItemColors(dialog, IDC_ABOUT_TEXT, RGB(0, 0, 0), aboutTextBackground);
}

void Initialise(HWND dialog) {
    aboutBox.webLinkHot = false;
    aboutBox.mailLinkHot = false;
    aboutBox.dragging = false;
    aboutBox.sidePicture = nullptr;
    // The guide's page as a URL: this system's separators, not the program directory's backslash.
    std::string guide = UserGuidePath(appState.programDirectory);
    std::replace(guide.begin(), guide.end(), '\\', '/');
    aboutBox.webLink = "file://" + guide;
    aboutBox.mailLink = supportMailLink;

    LoadResourceImage(dialog, IDR_SIDE_PICTURE, &aboutBox.sidePicture);
    ShowSidePicture(dialog);

    COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (int i = 0; i < GetDlgItemCount(dialog); ++i) {
        HWND control = GetDlgItemAt(dialog, i);
        int id = GetDlgCtrlID(control);
        if (GetDlgItemKind(dialog, id) == DialogControlKind::Static || id == IDC_STATIC)
            SetControlColors(control, id == IDC_ABOUT_TITLE || id == IDC_ABOUT_MAKER ? titleColour : RGB(0, 0, 0),
                             face);
    }
    SetDlgItemFont(dialog, IDC_ABOUT_TITLE, appState.boldFont);
    PaintLink(dialog, IDC_WEB_LINK, false);
    PaintLink(dialog, IDC_MAIL_LINK, false);
    ShowAboutText(dialog);

    // Leaving the box quickly sends no move over the link: the timer catches it.
    SetDialogTimer(dialog, aboutHoverTimer, 500);
    int x = 0;
    int y = 0;
    GetCursorPos(&x, &y);
    UpdateLinkHover(dialog, x, y);
}

void End(HWND dialog) {
    KillDialogTimer(dialog, aboutHoverTimer);
    aboutBox.dragging = false;
    DeleteObject(aboutBox.sidePicture);
    aboutBox.sidePicture = nullptr;
    EndDialog(dialog, 0);
}

}  // namespace

HBITMAP CreateDIBSection(const BITMAPINFOHEADER& header) {
    std::size_t stride = (static_cast<std::size_t>(header.biWidth) * header.biBitCount / 8 + 3) & ~std::size_t(3);
    std::size_t size = stride * static_cast<std::size_t>(header.biHeight);
    auto* bitmap = new (std::nothrow) DibSection{header, nullptr, size};
    if (!bitmap) return nullptr;
    bitmap->bits = new (std::nothrow) unsigned char[size];
    if (!bitmap->bits) {
        delete bitmap;
        return nullptr;
    }
    return bitmap;
}

void DeleteObject(HBITMAP bitmap) {
    if (!bitmap) return;
    delete[] bitmap->bits;
    delete bitmap;
}

int LoadResourceImage(HWND, int resourceId, HBITMAP* bitmapSlot) {
    HINSTANCE module = appState.instance;
    HRSRC resource = FindResourceA(module, resourceId, "J2KIMG");
    if (!resource) return 1;
    HGLOBAL loaded = LoadResource(module, resource);
    if (!loaded) return 3;
    const void* bytes = LockResource(loaded);
    if (!bytes) return 2;
    DWORD size = SizeofResource(module, resource);
    if (size == 0) return 3;

    opj_image_t* image = DecodeCodestream(static_cast<const unsigned char*>(bytes), size);
    if (!image || image->numcomps == 0 || !image->comps) return image ? (opj_image_destroy(image), 4) : 4;
    int width = static_cast<int>(image->x1);
    int height = static_cast<int>(image->y1);
    int used = image->numcomps >= 3 ? 3 : 1;
    for (int c = 0; c < used; ++c)
        if (image->comps[c].prec != 8) {
            opj_image_destroy(image);
            return 5;
        }

    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(8 * used);
    header.biCompression = 0;
    DeleteObject(*bitmapSlot);
    *bitmapSlot = width > 0 && height > 0 ? CreateDIBSection(header) : nullptr;
    if (!*bitmapSlot) {
        opj_image_destroy(image);
        return 6;
    }
    DibSection& bitmap = **bitmapSlot;
    std::memset(bitmap.bits, 0, bitmap.size);
    std::size_t stride = bitmap.size / static_cast<std::size_t>(height);
    for (int j = 0; j < used; ++j) {
        const opj_image_comp_t& component = image->comps[used - 1 - j];
        // A plane smaller than the image (a canvas origin past 0, subsampling)
        // fills what it covers; the rest stays black rather than reading past it.
        int planeWidth = static_cast<int>(component.w);
        int planeHeight = static_cast<int>(component.h);
        int left = static_cast<int>(component.x0);
        int top = static_cast<int>(component.y0);
        if (!component.data) continue;
        for (int y = 0; y < height; ++y) {
            int planeY = y - top;
            if (planeY < 0 || planeY >= planeHeight) continue;
            unsigned char* row = bitmap.bits + static_cast<std::size_t>(height - 1 - y) * stride;
            const OPJ_INT32* samples = component.data + static_cast<std::size_t>(planeY) * planeWidth;
            for (int x = 0; x < width; ++x) {
                int planeX = x - left;
                if (planeX >= 0 && planeX < planeWidth)
                    row[static_cast<std::size_t>(x) * used + j] = static_cast<unsigned char>(samples[planeX] & 0xFF);
            }
        }
    }
    opj_image_destroy(image);
    return 0;
}

void CreateLabelFonts() {
    LOGFONTA description;
    GetDefaultGuiFont(&description);
    appState.normalFont = CreateFontIndirectA(&description);
    description.lfUnderline = true;
    appState.underlinedFont = CreateFontIndirectA(&description);
    description.lfUnderline = false;
    description.lfWeight = 700;
    appState.boldFont = CreateFontIndirectA(&description);
}

void UpdateLinkHover(HWND dialog, int x, int y) {
    bool wasHot = aboutBox.webLinkHot || aboutBox.mailLinkHot;
    bool web = PointIn(dialog, IDC_WEB_LINK, x, y);
    if (web != aboutBox.webLinkHot) {
        aboutBox.webLinkHot = web;
        PaintLink(dialog, IDC_WEB_LINK, web);
    }
    bool mail = PointIn(dialog, IDC_MAIL_LINK, x, y);
    if (mail != aboutBox.mailLinkHot) {
        aboutBox.mailLinkHot = mail;
        PaintLink(dialog, IDC_MAIL_LINK, mail);
    }
    if (web || mail)
        SetWindowCursorHandle(dialog, HandCursor());
    else if (wasHot)
        SetWindowCursor(dialog, IDC_ARROW);
}

bool AboutBoxProc(HWND dialog, const DialogEvent& event, void*) {
    switch (event.kind) {
        case DialogEventKind::Init: Initialise(dialog); return true;
        case DialogEventKind::Timer: {
            int x = 0;
            int y = 0;
            GetCursorPos(&x, &y);
            UpdateLinkHover(dialog, x, y);
            return true;
        }
        // While a button is held the window layer keeps sending the mouse to the
        // box, even off it (Qt's implicit grab): that is the capture.
        case DialogEventKind::MouseDown:
            aboutBox.dragging = true;
            aboutBox.dragAnchorX = event.x;
            aboutBox.dragAnchorY = event.y;
            return true;
        case DialogEventKind::MouseMove:
            UpdateLinkHover(dialog, event.x, event.y);
            if (aboutBox.dragging) {
                PixelRect box = GetWindowRect(dialog);
                MoveWindow(dialog, box.x + event.x - aboutBox.dragAnchorX, box.y + event.y - aboutBox.dragAnchorY,
                           box.width, box.height);
                aboutBox.dragAnchorX = event.x;
                aboutBox.dragAnchorY = event.y;
            }
            return true;
        case DialogEventKind::MouseUp:
            aboutBox.dragging = false;
            if (PointIn(dialog, IDC_WEB_LINK, event.x, event.y))
                ShellExecuteA(dialog, "open", aboutBox.webLink.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            else if (PointIn(dialog, IDC_MAIL_LINK, event.x, event.y))
                ShellExecuteA(dialog, "open", aboutBox.mailLink.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            return true;
        case DialogEventKind::Command:
            if (event.control == IDOK || event.control == IDCANCEL) End(dialog);
            return true;
        default: return false;
    }
}

void ShowAboutBox(HWND owner) { DialogBoxParamA(appState.instance, IDD_ABOUT, owner, AboutBoxProc, nullptr); }

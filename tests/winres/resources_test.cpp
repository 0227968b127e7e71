// The Windows program's resources, read back from this test program, which
// links the same resource object: the dialog templates as the dialog manager
// reads them, compared with the template sources the Qt program is laid out
// from too; the icons; the About picture; the version; the manifest.

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "resource.h"
#include "rc_config.h"

namespace {

// ---------------------------------------------------------------------------
// The template sources, expanded here as the resource script expands them.

struct SourceControl {
    int id;
    const char* className;
    const char* text;
    int x, y, width, height;
    DWORD style, exStyle;
};

struct SourceDialog {
    int id;
    const char* caption;
    int width, height;
    DWORD style, exStyle;
    const char* face;
    int points, weight, italic, charset;
};

#define SOURCE_HEADER(id, caption, width, height, style, exStyle, face, points, weight, italic, charset) \
    {id, caption, width, height, style, exStyle, face, points, weight, italic, charset}
#define SOURCE_CONTROL(id, kind, className, text, x, y, width, height, style, exStyle) \
    {id, className, text, x, y, width, height, style, exStyle},

#define DIALOG_BEGIN(...) const SourceDialog kMainSource = SOURCE_HEADER(__VA_ARGS__);
#define DIALOG_CONTROL(...)
#define DIALOG_END()
#include "dialogs/main_dlg.def"
#undef DIALOG_BEGIN
#undef DIALOG_CONTROL
#undef DIALOG_END

const SourceControl kMainControls[] = {
#define DIALOG_BEGIN(...)
#define DIALOG_CONTROL(...) SOURCE_CONTROL(__VA_ARGS__)
#define DIALOG_END()
#include "dialogs/main_dlg.def"
#undef DIALOG_BEGIN
#undef DIALOG_CONTROL
#undef DIALOG_END
};

#define DIALOG_BEGIN(...) const SourceDialog kAboutSource = SOURCE_HEADER(__VA_ARGS__);
#define DIALOG_CONTROL(...)
#define DIALOG_END()
#include "dialogs/about_dlg.def"
#undef DIALOG_BEGIN
#undef DIALOG_CONTROL
#undef DIALOG_END

const SourceControl kAboutControls[] = {
#define DIALOG_BEGIN(...)
#define DIALOG_CONTROL(...) SOURCE_CONTROL(__VA_ARGS__)
#define DIALOG_END()
#include "dialogs/about_dlg.def"
#undef DIALOG_BEGIN
#undef DIALOG_CONTROL
#undef DIALOG_END
};

std::wstring Wide(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (n <= 0) return L"<not UTF-8>";
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, out.data(), n);
    out.pop_back();
    return out;
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

std::string Narrow(const std::wstring& s) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.pop_back();
    return out;
}

// ---------------------------------------------------------------------------
// Resources of this program.

struct Bytes {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

Bytes Resource(const wchar_t* name, const wchar_t* type) {
    const HMODULE self = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(self, name, type);
    if (found == nullptr) return {};
    const HGLOBAL loaded = LoadResource(self, found);
    if (loaded == nullptr) return {};
    return {static_cast<const std::uint8_t*>(LockResource(loaded)), SizeofResource(self, found)};
}

// Reads little-endian fields in order; any read past the end marks the
// reader as overrun and yields zeros.
class Reader {
public:
    explicit Reader(Bytes bytes) : m_bytes(bytes) {}

    std::uint8_t Byte() { return static_cast<std::uint8_t>(Read(1)); }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Read(2)); }
    std::uint32_t Dword() { return static_cast<std::uint32_t>(Read(4)); }
    std::int16_t Short() { return static_cast<std::int16_t>(Word()); }
    void AlignDword() { m_pos = (m_pos + 3) & ~std::size_t{3}; }
    void Skip(std::size_t n) { m_pos += n; }
    std::wstring String() {
        std::wstring s;
        for (std::uint16_t c = Word(); c != 0 && !m_overrun; c = Word()) s.push_back(static_cast<wchar_t>(c));
        return s;
    }
    // A name or an ordinal: empty, 0xFFFF followed by a number, or a string.
    std::wstring NameOrOrdinal(std::uint16_t* ordinal) {
        *ordinal = 0;
        const std::size_t start = m_pos;
        const std::uint16_t first = Word();
        if (first == 0) return {};
        if (first == 0xFFFF) {
            *ordinal = Word();
            return {};
        }
        m_pos = start;
        return String();
    }
    std::size_t Position() const { return m_pos; }
    bool Overrun() const { return m_overrun || m_pos > m_bytes.size; }

private:
    std::uint64_t Read(std::size_t n) {
        std::uint64_t v = 0;
        if (m_pos + n > m_bytes.size) {
            m_overrun = true;
            m_pos += n;
            return 0;
        }
        for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{m_bytes.data[m_pos + i]} << (8 * i);
        m_pos += n;
        return v;
    }

    Bytes m_bytes;
    std::size_t m_pos = 0;
    bool m_overrun = false;
};

// ---------------------------------------------------------------------------
// Extended dialog templates as the dialog manager reads them.

struct ParsedControl {
    DWORD exStyle, style;
    int x, y, width, height;
    int id;
    std::wstring className;  // predefined classes given by their atom are named here
    std::wstring text;
    std::uint16_t creationDataSize;
};

struct ParsedDialog {
    std::uint16_t version, signature;
    DWORD exStyle, style;
    int x, y, width, height;
    std::wstring menu, windowClass, caption;
    int points, weight, italic, charset;
    std::wstring face;
    std::vector<ParsedControl> controls;
    bool overrun;
    std::size_t end, size;
};

std::wstring PredefinedClass(std::uint16_t atom) {
    switch (atom) {
        case 0x80: return L"button";
        case 0x81: return L"edit";
        case 0x82: return L"static";
        case 0x83: return L"listbox";
        case 0x84: return L"scrollbar";
        case 0x85: return L"combobox";
        default: return L"#" + std::to_wstring(atom);
    }
}

ParsedDialog ParseDialog(Bytes bytes) {
    ParsedDialog d{};
    Reader r(bytes);
    d.version = r.Word();
    d.signature = r.Word();
    r.Dword();  // help id
    d.exStyle = r.Dword();
    d.style = r.Dword();
    const std::uint16_t count = r.Word();
    d.x = r.Short();
    d.y = r.Short();
    d.width = r.Short();
    d.height = r.Short();
    std::uint16_t ordinal = 0;
    d.menu = r.NameOrOrdinal(&ordinal);
    if (ordinal != 0) d.menu = L"#" + std::to_wstring(ordinal);
    d.windowClass = r.NameOrOrdinal(&ordinal);
    if (ordinal != 0) d.windowClass = L"#" + std::to_wstring(ordinal);
    d.caption = r.String();
    if ((d.style & (DS_SETFONT | DS_SHELLFONT)) != 0) {
        d.points = r.Word();
        d.weight = r.Word();
        d.italic = r.Byte();
        d.charset = r.Byte();
        d.face = r.String();
    }
    for (std::uint16_t i = 0; i < count && !r.Overrun(); ++i) {
        r.AlignDword();
        ParsedControl c{};
        r.Dword();  // help id
        c.exStyle = r.Dword();
        c.style = r.Dword();
        c.x = r.Short();
        c.y = r.Short();
        c.width = r.Short();
        c.height = r.Short();
        c.id = static_cast<int>(static_cast<std::int32_t>(r.Dword()));
        c.className = r.NameOrOrdinal(&ordinal);
        if (ordinal != 0) c.className = PredefinedClass(ordinal);
        c.text = r.NameOrOrdinal(&ordinal);
        if (ordinal != 0) c.text = L"#" + std::to_wstring(ordinal);
        c.creationDataSize = r.Word();
        r.Skip(c.creationDataSize);
        d.controls.push_back(c);
    }
    d.overrun = r.Overrun();
    d.end = r.Position();
    d.size = bytes.size;
    return d;
}

struct TemplateCase {
    const char* name;
    const SourceDialog* source;
    const SourceControl* controls;
    std::size_t count;
};

void PrintTo(const TemplateCase& c, std::ostream* os) { *os << c.name; }

class DialogTemplate : public testing::TestWithParam<TemplateCase> {};

// Everything the dialog manager takes from the template, field by field,
// against the source the Qt host is laid out from.
TEST_P(DialogTemplate, IsTheExtendedTemplateOfItsSource) {
    const TemplateCase& c = GetParam();
    const SourceDialog& source = *c.source;
    const Bytes bytes = Resource(MAKEINTRESOURCEW(source.id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    ASSERT_NE(bytes.data, nullptr) << "no dialog resource " << source.id;
    const ParsedDialog d = ParseDialog(bytes);
    ASSERT_FALSE(d.overrun) << "the template ends before its last control";
    EXPECT_EQ(d.end, d.size) << "bytes after the last control";

    EXPECT_EQ(d.version, 1);
    EXPECT_EQ(d.signature, 0xFFFF) << "not an extended template";
    EXPECT_EQ(d.style, source.style);
    EXPECT_EQ(d.exStyle, source.exStyle);
    EXPECT_EQ(d.width, source.width);
    EXPECT_EQ(d.height, source.height);
    EXPECT_EQ(d.menu, L"");
    EXPECT_EQ(d.windowClass, L"") << "the dialog manager's own class";
    EXPECT_EQ(Narrow(d.caption), source.caption);
    ASSERT_NE(d.style & DS_SETFONT, 0u) << "the font would not be read";
    EXPECT_EQ(Narrow(d.face), source.face);
    EXPECT_EQ(d.points, source.points);
    EXPECT_EQ(d.weight, source.weight);
    EXPECT_EQ(d.italic, source.italic);
    EXPECT_EQ(d.charset, source.charset);

    ASSERT_EQ(d.controls.size(), c.count);
    for (std::size_t i = 0; i < c.count; ++i) {
        const ParsedControl& got = d.controls[i];
        const SourceControl& want = c.controls[i];
        SCOPED_TRACE(testing::Message() << "control " << i + 1 << ", id " << want.id);
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(Lower(got.className), Lower(Wide(want.className)));
        EXPECT_EQ(got.text, Wide(want.text));
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, want.exStyle);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.width, want.width);
        EXPECT_EQ(got.height, want.height);
        EXPECT_EQ(got.creationDataSize, 0);
        EXPECT_EQ(got.style & (WS_CHILD | WS_VISIBLE), DWORD{WS_CHILD | WS_VISIBLE}) << "not a visible child";
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, DialogTemplate,
                         testing::Values(TemplateCase{"Main", &kMainSource, kMainControls, std::size(kMainControls)},
                                         TemplateCase{"About", &kAboutSource, kAboutControls,
                                                      std::size(kAboutControls)}),
                         [](const testing::TestParamInfo<TemplateCase>& info) { return info.param.name; });

ParsedDialog LoadDialog(int id) {
    return ParseDialog(Resource(MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */));
}

// The ids of the controls that Tab visits, in order, as the dialog manager
// walks the template: visible, enabled controls with a tab stop.
std::vector<int> TabStops(const ParsedDialog& d) {
    std::vector<int> ids;
    for (const ParsedControl& c : d.controls)
        if ((c.style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) ids.push_back(c.id);
    return ids;
}

// The group that starts at control `first`: it and the controls after it up
// to the next one with WS_GROUP.
std::vector<int> GroupFrom(const ParsedDialog& d, int first) {
    std::vector<int> ids;
    bool in = false;
    for (const ParsedControl& c : d.controls) {
        if (in && (c.style & WS_GROUP) != 0) break;
        if (c.id == first) in = true;
        if (in) ids.push_back(c.id);
    }
    return ids;
}

bool IsButtonType(const ParsedControl& c, DWORD type) {
    return Lower(c.className) == L"button" && (c.style & BS_TYPEMASK) == type;
}

// How the main window behaves by its template alone: what Tab visits, the
// radio group that Play and Stop make, Enter without a default button.
TEST(MainWindowTemplate, KeyboardAndRadioGroupFollowFromTheTemplate) {
    const ParsedDialog d = LoadDialog(IDD_MAINDLG);
    ASSERT_FALSE(d.overrun);
    ASSERT_FALSE(d.controls.empty());

    EXPECT_EQ(TabStops(d), (std::vector<int>{IDC_INPUT_DEVICE, IDC_DELAY_SLIDER, IDC_DELAY_EDIT, ID_APP_ABOUT,
                                             IDC_MIXER, IDCANCEL, IDC_TUNER, IDC_OUTPUT_DEVICE}));

    EXPECT_EQ(GroupFrom(d, IDC_PLAY), (std::vector<int>{IDC_PLAY, IDC_STOP}));
    for (const ParsedControl& c : d.controls) {
        if (c.id == IDC_PLAY || c.id == IDC_STOP) {
            EXPECT_TRUE(IsButtonType(c, BS_AUTORADIOBUTTON)) << c.id;
            EXPECT_EQ(c.style & (BS_PUSHLIKE | BS_ICON), DWORD{BS_PUSHLIKE | BS_ICON}) << c.id;
        }
        EXPECT_FALSE(IsButtonType(c, BS_DEFPUSHBUTTON)) << "Enter would click " << c.id;
        EXPECT_NE(c.id, IDOK) << "nothing answers command 1";
    }
    EXPECT_EQ(d.style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_VISIBLE), 0u) << "fixed size, shown by the program";
}

TEST(AboutBoxTemplate, OkIsTheDefaultButtonAndTakesTheFocus) {
    const ParsedDialog d = LoadDialog(IDD_ABOUTBOX);
    ASSERT_FALSE(d.overrun);
    std::vector<int> defaults;
    for (const ParsedControl& c : d.controls)
        if (IsButtonType(c, BS_DEFPUSHBUTTON)) defaults.push_back(c.id);
    EXPECT_EQ(defaults, std::vector<int>{IDOK});
    EXPECT_EQ(TabStops(d), (std::vector<int>{IDOK, IDC_ABOUT_WEB}));

    // The text is a format template with one "%s" for the build number.
    for (const ParsedControl& c : d.controls) {
        if (c.id != IDC_ABOUT_TEXT) continue;
        const std::wstring::size_type at = c.text.find(L"%s");
        ASSERT_NE(at, std::wstring::npos);
        EXPECT_EQ(c.text.find(L'%', at + 1), std::wstring::npos);
        EXPECT_EQ(c.text.rfind(L"Morvane Build %s", 0), 0u);
    }
}

// ---------------------------------------------------------------------------
// Icons.

struct IconImage {
    int width, height, bitCount;
};

// The images of icon group `id`, each checked to be present with the size
// its directory gives and to decode into an icon.
std::vector<IconImage> IconImages(int id) {
    std::vector<IconImage> images;
    const Bytes group = Resource(MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */);
    if (group.data == nullptr) {
        ADD_FAILURE() << "no icon " << id;
        return images;
    }
    Reader r(group);
    EXPECT_EQ(r.Word(), 0);  // reserved
    EXPECT_EQ(r.Word(), 1);  // icons, not cursors
    const std::uint16_t count = r.Word();
    for (std::uint16_t i = 0; i < count && !r.Overrun(); ++i) {
        IconImage image{};
        image.width = r.Byte();
        image.height = r.Byte();
        r.Byte();  // colours
        r.Byte();  // reserved
        r.Word();  // planes
        image.bitCount = r.Word();
        const std::uint32_t size = r.Dword();
        const std::uint16_t imageId = r.Word();
        if (r.Overrun()) break;
        if (image.width == 0) image.width = 256;
        if (image.height == 0) image.height = 256;
        const Bytes data = Resource(MAKEINTRESOURCEW(imageId), MAKEINTRESOURCEW(3) /* RT_ICON */);
        EXPECT_NE(data.data, nullptr) << "icon " << id << " lacks its image " << imageId;
        EXPECT_EQ(data.size, size) << "icon " << id << ", image " << imageId;
        if (data.data != nullptr) {
            HICON icon = CreateIconFromResourceEx(const_cast<PBYTE>(data.data), static_cast<DWORD>(data.size), TRUE,
                                                  0x00030000, image.width, image.height, LR_DEFAULTCOLOR);
            EXPECT_NE(icon, nullptr) << "icon " << id << ", image " << imageId << " does not decode";
            if (icon != nullptr) DestroyIcon(icon);
        }
        images.push_back(image);
    }
    EXPECT_FALSE(r.Overrun()) << "icon " << id << ": directory cut short";
    return images;
}

bool Holds(const std::vector<IconImage>& images, int size) {
    for (const IconImage& image : images)
        if (image.width == size && image.height == size) return true;
    return false;
}

TEST(Icons, WindowIconHoldsA32And16PixelImage) {
    const std::vector<IconImage> images = IconImages(IDR_MAINFRAME);
    EXPECT_TRUE(Holds(images, 32));
    EXPECT_TRUE(Holds(images, 16));
}

TEST(Icons, PlayAndStopAre32PixelImagesWithAlpha) {
    for (int id : {IDI_PLAY, IDI_STOP}) {
        SCOPED_TRACE(id);
        const std::vector<IconImage> images = IconImages(id);
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images[0].width, 32);
        EXPECT_EQ(images[0].height, 32);
        EXPECT_EQ(images[0].bitCount, 32);
        // LoadIcon, as the window loads them, finds them by id.
        HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
        EXPECT_NE(icon, nullptr);
    }
}

// ---------------------------------------------------------------------------
// The About picture.

// The picture file as this program sees it: under Wine a Unix path is
// turned into a DOS one, which reaches it whatever the current drive.
std::vector<std::uint8_t> ReadPictureFile() {
    std::wstring path = Wide(MORVANE_ABOUT_GIF);
    using ToDos = WCHAR*(CDECL*)(const char*);
    if (const auto toDos = reinterpret_cast<ToDos>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")))) {
        if (WCHAR* dos = toDos(MORVANE_ABOUT_GIF)) {
            path = dos;
            HeapFree(GetProcessHeap(), 0, dos);
        }
    }
    std::ifstream file(path.c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(AboutPicture, IsTheGifFileByteForByte) {
    const Bytes picture = Resource(MAKEINTRESOURCEW(IDR_ABOUT_PICTURE), L"BINARY");
    ASSERT_NE(picture.data, nullptr) << "no resource 211 of type \"BINARY\"";
    const std::vector<std::uint8_t> file = ReadPictureFile();
    ASSERT_FALSE(file.empty()) << "cannot read " << MORVANE_ABOUT_GIF;
    ASSERT_EQ(picture.size, file.size());
    EXPECT_EQ(std::memcmp(picture.data, file.data(), file.size()), 0);
    EXPECT_EQ(std::memcmp(picture.data, "GIF89a", 6), 0);
}

// ---------------------------------------------------------------------------
// Version.

std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::vector<int> VersionNumbers(const std::string& text) {
    std::vector<int> numbers;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, '.')) numbers.push_back(std::stoi(part));
    while (numbers.size() < 4) numbers.push_back(0);
    return numbers;
}

TEST(VersionResource, CarriesTheProjectVersionAndName) {
    const std::wstring path = OwnPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<std::uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    ASSERT_GE(fixedSize, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const std::vector<int> v = VersionNumbers(MORVANE_PROJECT_VERSION);
    const DWORD ms = MAKELONG(v[1], v[0]);
    const DWORD ls = MAKELONG(v[3], v[2]);
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    EXPECT_EQ(fixed->dwFileType, DWORD{VFT_APP});

    struct Translation {
        WORD language, codePage;
    };
    Translation* translation = nullptr;
    UINT translationSize = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &translationSize));
    ASSERT_GE(translationSize, sizeof(Translation));
    EXPECT_EQ(translation->language, 0x0409);
    EXPECT_EQ(translation->codePage, 1200);

    // The texts of the block that the translation names.
    wchar_t block[64];
    wsprintfW(block, L"\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
    const auto text = [&](const wchar_t* name) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(block) + name;
        if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || value == nullptr)
            return std::string("<missing>");
        return Narrow(value);
    };
    EXPECT_EQ(text(L"ProductName"), "Morvane");
    EXPECT_EQ(text(L"ProductVersion"), MORVANE_PROJECT_VERSION);
    EXPECT_EQ(text(L"FileVersion"), MORVANE_PROJECT_VERSION);
    EXPECT_EQ(text(L"OriginalFilename"), "morvane.exe");
    EXPECT_NE(text(L"FileDescription"), "<missing>");
    EXPECT_NE(text(L"LegalCopyright").find("Morvane"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Manifest, as the loader took it into this process's activation context.

// The identity of the assembly that the process's activation context loads
// `dll` from; empty when the DLL is not redirected.
std::wstring AssemblyProviding(const wchar_t* dll) {
    ACTCTX_SECTION_KEYED_DATA data{};
    data.cbSize = sizeof data;
    if (!FindActCtxSectionStringW(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                  ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, dll, &data))
        return {};
    std::wstring identity;
    SIZE_T needed = 0;
    QueryActCtxW(0, data.hActCtx, &data.ulAssemblyRosterIndex, AssemblyDetailedInformationInActivationContext,
                 nullptr, 0, &needed);
    std::vector<std::uint8_t> buffer(needed);
    if (needed >= sizeof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION) &&
        QueryActCtxW(0, data.hActCtx, &data.ulAssemblyRosterIndex, AssemblyDetailedInformationInActivationContext,
                     buffer.data(), buffer.size(), &needed)) {
        const auto* info = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
        if (info->lpAssemblyEncodedAssemblyIdentity != nullptr) identity = info->lpAssemblyEncodedAssemblyIdentity;
    }
    ReleaseActCtx(data.hActCtx);
    return identity;
}

std::wstring Setting(const wchar_t* nameSpace, const wchar_t* name) {
    wchar_t value[64] = {};
    SIZE_T written = 0;
    if (!QueryActCtxSettingsW(0, nullptr, nameSpace, name, value, std::size(value), &written)) return L"<unset>";
    return value;
}

TEST(Manifest, GivesCommonControls6AndSystemDpiAwareness) {
    const Bytes manifest = Resource(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    ASSERT_NE(manifest.data, nullptr) << "no manifest resource 1";

    const std::wstring controls = Lower(AssemblyProviding(L"comctl32.dll"));
    EXPECT_EQ(controls.rfind(L"microsoft.windows.common-controls,", 0), 0u) << Narrow(controls);
    EXPECT_NE(controls.find(L"version=\"6."), std::wstring::npos) << Narrow(controls);

    // Windows 10 reads the second, older systems the first.
    EXPECT_EQ(Setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"), L"true");
    EXPECT_EQ(Setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"), L"system");
}

}  // namespace

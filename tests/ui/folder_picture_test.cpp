// The folder's background picture: Desktop.ini through Wine's real
// profile-string writer, and the two message boxes of the button.
#include "tests/ui/ui_fixture.h"

#include "core/text.h"

#include "ui/folder_picture.h"
#include "form/form_layout.h"

#include <shlwapi.h>

namespace kestro::test {
namespace {

constexpr char kSectionLine[] = "[{BE098140-A513-11D0-A3A4-00C04FD706EC}]\r\n";
constexpr wchar_t kErrorText[] =
    L"Невозможно создать Desktop.ini\r\nпроверьте правильность ввода путей к:\r\n1) папке\r\n2) картинке";

std::string Ansi(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    bytes.resize(static_cast<std::size_t>(size - 1));
    return bytes;
}

std::string Entry(const std::string& value) { return kSectionLine + std::string("IconArea_Image=") + value + "\r\n"; }

// A text as a UTF-16LE file holds it, after its byte-order mark.
std::string Utf16File(const std::wstring& text) {
    std::string bytes("\xFF\xFE", 2);
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

std::wstring WideEntry(const std::wstring& value) {
    return L"[{BE098140-A513-11D0-A3A4-00C04FD706EC}]\r\nIconArea_Image=" + value + L"\r\n";
}

std::wstring ReadBack(const std::wstring& file, const wchar_t* section, const wchar_t* key) {
    wchar_t back[MAX_PATH] = {};
    GetPrivateProfileStringW(section, key, L"(none)", back, MAX_PATH, file.c_str());
    return back;
}

constexpr DWORD kMarks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

// A folder that refuses to be marked, as one on a read-only medium or
// without the right would.
bool RefuseToMark(const std::wstring&) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

class FolderPictureTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        CreateWindows();
    }
    // Fills the two fields as the chooser and the picture dialog would, and
    // presses the button; the boxes it shows are answered and recorded.
    std::vector<DialogWatcher::Seen> Set(const std::wstring& folder, const std::wstring& picture) {
        main_->SetText("edFolder", folder);
        main_->SetText("edPicture", picture);
        DialogWatcher watcher(main_->Hwnd());
        Click("bbSetPictureBackgroundFolder");
        PumpMessages(20);
        EXPECT_EQ(folder, main_->Text("edFolder")) << "the handler changed the field";
        EXPECT_EQ(picture, main_->Text("edPicture")) << "the handler changed the field";
        return watcher.Seen_();
    }
    std::string Bytes(const std::wstring& file) {
        std::string bytes;
        EXPECT_TRUE(ReadFileBytes(file, &bytes)) << "no file";
        return bytes;
    }
    void ExpectErrorBox(const std::vector<DialogWatcher::Seen>& seen) {
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(L"Error", seen[0].caption);
        EXPECT_EQ(kErrorText, seen[0].text);
        EXPECT_EQ(LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_ERROR)), seen[0].icon);
        EXPECT_EQ(Application().Hwnd(), seen[0].owner);
        EXPECT_TRUE(seen[0].mainWindowDisabled);
    }
};

// Explorer reads Desktop.ini only in a read-only or system folder: the
// folder is marked, and the new file kept out of sight, as Explorer's own
// customisation leaves them.
TEST_F(FolderPictureTest, ANewFileHoldsExactlyTheSectionAndTheKeyAndTheFolderIsMarked) {
    TempFolder folder(L"kestro-picture");
    const std::wstring file = folder.Child(L"Desktop.ini");
    ASSERT_EQ(0u, Attributes(folder.Path()) & kMarks);
    EXPECT_TRUE(Set(folder.Path(), L"C:\\pictures\\sky.bmp").empty()) << "a box after a good write";
    EXPECT_EQ(Entry("C:\\pictures\\sky.bmp"), Bytes(file));
    EXPECT_NE(0u, Attributes(folder.Path()) & kMarks) << std::hex << Attributes(folder.Path());
    EXPECT_EQ(kHiddenSystem, Attributes(file) & kHiddenSystem) << std::hex << Attributes(file);
    EXPECT_TRUE(PathIsSystemFolderW(folder.Path().c_str(), 0));

    // A second write changes the entry and nothing else.
    const DWORD folderBefore = Attributes(folder.Path()), fileBefore = Attributes(file);
    EXPECT_TRUE(Set(folder.Path(), L"C:\\pictures\\sea.bmp").empty());
    EXPECT_EQ(Entry("C:\\pictures\\sea.bmp"), Bytes(file));
    EXPECT_EQ(folderBefore, Attributes(folder.Path()));
    EXPECT_EQ(fileBefore, Attributes(file));
}

TEST_F(FolderPictureTest, AnExistingFileKeepsItsAttributes) {
    TempFolder folder(L"kestro-keeps");
    const std::wstring file = folder.Child(L"Desktop.ini");
    const std::string icon = "[.ShellClassInfo]\r\nIconFile=folder.ico\r\n";
    ASSERT_TRUE(WriteFileBytes(file, icon));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(Set(folder.Path(), L"C:\\sky.bmp").empty());
    EXPECT_EQ(icon + Entry("C:\\sky.bmp"), Bytes(file));
    EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, Attributes(file) & (kHiddenSystem | FILE_ATTRIBUTE_READONLY));
    EXPECT_NE(0u, Attributes(folder.Path()) & kMarks);
}

// PathMakeSystemFolder would replace a marked folder's attributes with its
// own choice: one that is marked already is left as it is.
TEST_F(FolderPictureTest, AFolderMarkedAlreadyKeepsItsAttributes) {
    TempFolder folder(L"kestro-marked");
    ASSERT_TRUE(SetFileAttributesW(folder.Path().c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
    const DWORD before = Attributes(folder.Path());
    ASSERT_EQ(kHiddenSystem, before & kHiddenSystem) << "this system does not keep a folder's attributes";
    EXPECT_TRUE(Set(folder.Path(), L"C:\\sky.bmp").empty());
    EXPECT_EQ(before, Attributes(folder.Path()));
}

// The entry is written first, so a folder that cannot be marked is never
// marked without it; the picture would not show, so the error box says so.
TEST_F(FolderPictureTest, AFolderThatCannotBeMarkedGivesTheErrorBox) {
    ScopedFolderMarker refuse(RefuseToMark);
    TempFolder folder(L"kestro-unmarkable");
    ExpectErrorBox(Set(folder.Path(), L"C:\\sky.bmp"));
    EXPECT_EQ(Entry("C:\\sky.bmp"), Bytes(folder.Child(L"Desktop.ini")));
    EXPECT_EQ(0u, Attributes(folder.Path()) & kMarks);
}

// A failed write marks nothing.
TEST_F(FolderPictureTest, AFailedWriteLeavesTheFolderUnmarked) {
    TempFolder folder(L"kestro-locked-unmarked");
    const std::wstring file = folder.Child(L"Desktop.ini");
    ASSERT_TRUE(WriteFileBytes(file, "[.ShellClassInfo]\r\n"));
    HANDLE locked = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    ExpectErrorBox(Set(folder.Path(), L"C:\\sky.bmp"));
    CloseHandle(locked);
    EXPECT_EQ(0u, Attributes(folder.Path()) & kMarks);
}

// In the system's code page when it holds the path (a Russian system), in
// UTF-16 when it does not (a Western one): read back as typed either way.
TEST_F(FolderPictureTest, CyrillicNamesGoThroughAsTyped) {
    TempFolder folder(L"Кестро фон папки");
    const std::wstring picture = folder.Child(L"картинка.jpg");
    const std::wstring file = folder.Child(L"Desktop.ini");
    EXPECT_TRUE(Set(folder.Path(), picture).empty());
    const bool fits = FitsAnsiCodePage(picture);
    EXPECT_EQ(GetACP() == 1251, fits);
    EXPECT_EQ(fits ? Entry(Ansi(picture)) : Utf16File(WideEntry(picture)), Bytes(file));
    EXPECT_EQ(picture, ReadBack(file, L"{BE098140-A513-11D0-A3A4-00C04FD706EC}", L"IconArea_Image"));
}

// Greek is in neither Windows-1251 nor Windows-1252.
TEST_F(FolderPictureTest, APathOutsideTheCodePageMakesANewFileUnicode) {
    TempFolder folder(L"kestro-unicode");
    const std::wstring picture = L"C:\\Ωμέγα\\фон.jpg";
    const std::wstring file = folder.Child(L"Desktop.ini");
    EXPECT_TRUE(Set(folder.Path(), picture).empty());
    EXPECT_EQ(Utf16File(WideEntry(picture)), Bytes(file));
    EXPECT_EQ(picture, ReadBack(file, L"{BE098140-A513-11D0-A3A4-00C04FD706EC}", L"IconArea_Image"));
    EXPECT_EQ(kHiddenSystem, Attributes(file) & kHiddenSystem);
    EXPECT_NE(0u, Attributes(folder.Path()) & kMarks);
}

TEST_F(FolderPictureTest, AnAnsiFileIsConvertedOnlyWhenThePathNeedsIt) {
    TempFolder folder(L"kestro-convert");
    const std::wstring file = folder.Child(L"Desktop.ini");
    const std::string icon = "[.ShellClassInfo]\r\nIconFile=folder.ico\r\n";
    ASSERT_TRUE(WriteFileBytes(file, icon));
    EXPECT_TRUE(Set(folder.Path(), L"C:\\sky.bmp").empty());
    EXPECT_EQ(icon + Entry("C:\\sky.bmp"), Bytes(file));

    const std::wstring picture = L"C:\\Ωμέγα.jpg";
    EXPECT_TRUE(Set(folder.Path(), picture).empty());
    EXPECT_EQ(Utf16File(L"[.ShellClassInfo]\r\nIconFile=folder.ico\r\n" + WideEntry(picture)), Bytes(file));
    EXPECT_EQ(L"folder.ico", ReadBack(file, L".ShellClassInfo", L"IconFile"));
    EXPECT_EQ(picture, ReadBack(file, L"{BE098140-A513-11D0-A3A4-00C04FD706EC}", L"IconArea_Image"));
}

TEST_F(FolderPictureTest, AUnicodeFileStaysUnicode) {
    TempFolder folder(L"kestro-stays");
    const std::wstring file = folder.Child(L"Desktop.ini");
    ASSERT_TRUE(WriteFileBytes(file, Utf16File(L"[.ShellClassInfo]\r\nIconFile=Ωμέγα.ico\r\n")));
    EXPECT_TRUE(Set(folder.Path(), L"C:\\sky.bmp").empty());
    EXPECT_EQ(Utf16File(L"[.ShellClassInfo]\r\nIconFile=Ωμέγα.ico\r\n" + WideEntry(L"C:\\sky.bmp")), Bytes(file));
    EXPECT_EQ(L"Ωμέγα.ico", ReadBack(file, L".ShellClassInfo", L"IconFile"));
}

TEST_F(FolderPictureTest, OtherSectionsOfAnExistingFileStay) {
    TempFolder folder(L"kestro-icon");
    const std::string icon = "[.ShellClassInfo]\r\nIconFile=folder.ico\r\nIconIndex=0\r\n";
    ASSERT_TRUE(WriteFileBytes(folder.Child(L"Desktop.ini"), icon));
    EXPECT_TRUE(Set(folder.Path(), L"C:\\sky.bmp").empty());
    const std::string bytes = Bytes(folder.Child(L"Desktop.ini"));
    EXPECT_EQ(0u, bytes.find(icon)) << bytes;
    EXPECT_NE(std::string::npos, bytes.find(Entry("C:\\sky.bmp"), icon.size())) << "appended after them: " << bytes;
}

TEST_F(FolderPictureTest, ASecondWriteLeavesOneKeyWithTheSecondPicture) {
    TempFolder folder(L"kestro-twice");
    EXPECT_TRUE(Set(folder.Path(), L"C:\\first.bmp").empty());
    EXPECT_TRUE(Set(folder.Path(), L"D:\\second.jpg").empty());
    EXPECT_EQ(Entry("D:\\second.jpg"), Bytes(folder.Child(L"Desktop.ini")));
}

TEST_F(FolderPictureTest, ThePicturePlaceholderWritesAnEmptyValue) {
    TempFolder folder(L"kestro-empty");
    EXPECT_TRUE(Set(folder.Path(), kPicturePlaceholder).empty());
    EXPECT_EQ(Entry(""), Bytes(folder.Child(L"Desktop.ini")));
}

TEST_F(FolderPictureTest, TheFolderPlaceholderAsksForAFolderAndFocusesItsButton) {
    const auto seen = Set(kFolderPlaceholder, L"C:\\sky.bmp");
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"Information", seen[0].caption);
    EXPECT_EQ(L"выберите папку", seen[0].text);
    EXPECT_EQ(LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_INFORMATION)), seen[0].icon);
    EXPECT_EQ(Application().Hwnd(), seen[0].owner);
    EXPECT_EQ(Control("bbSetFolder"), GetFocus());
}

TEST_F(FolderPictureTest, AMissingFolderGivesTheErrorBoxAndCreatesNothing) {
    TempFolder parent(L"kestro-missing");
    const std::wstring missing = parent.Child(L"нет такой папки");
    ExpectErrorBox(Set(missing, L"C:\\sky.bmp"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(missing.c_str()));
}

TEST_F(FolderPictureTest, AReadOnlyFileGivesTheErrorBoxAndStaysAsItWas) {
    TempFolder folder(L"kestro-readonly");
    const std::wstring file = folder.Child(L"Desktop.ini");
    const std::string before = "[.ShellClassInfo]\r\nIconFile=folder.ico\r\n";
    ASSERT_TRUE(WriteFileBytes(file, before));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE probe = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "this system lets the file be written despite its read-only attribute (Wine run by root)";
    }
    ExpectErrorBox(Set(folder.Path(), L"C:\\sky.bmp"));
    EXPECT_EQ(before, Bytes(file));
    EXPECT_TRUE(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(FolderPictureTest, AFileInUseGivesTheErrorBox) {
    TempFolder folder(L"kestro-locked");
    const std::wstring file = folder.Child(L"Desktop.ini");
    ASSERT_TRUE(WriteFileBytes(file, "[.ShellClassInfo]\r\n"));
    HANDLE locked = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    ExpectErrorBox(Set(folder.Path(), L"C:\\sky.bmp"));
    CloseHandle(locked);
    EXPECT_EQ("[.ShellClassInfo]\r\n", Bytes(file));
}

// A folder text that is not a full path (the chooser gives a display name
// for the computer, say) would be taken by the writer as relative to the
// current folder: it is refused instead.
TEST_F(FolderPictureTest, ANameThatIsNotAFullPathGivesTheErrorBox) {
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    const std::wstring name = L"kestro-relative-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring there = std::wstring(current) + (current[lstrlenW(current) - 1] == L'\\' ? L"" : L"\\") + name;
    ASSERT_TRUE(CreateDirectoryW(there.c_str(), nullptr));
    const auto seen = Set(name, L"C:\\sky.bmp");
    const DWORD written = GetFileAttributesW((there + L"\\Desktop.ini").c_str());
    RemoveTree(there);
    ExpectErrorBox(seen);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, written) << "written into the current folder";
}

// A drive's root ends in a backslash, so the file name gets two of them
// before "Desktop.ini"; the system takes that name as it is. The drive is
// the one Windows is on, in the test run's throw-away prefix.
TEST_F(FolderPictureTest, ADriveRootIsWrittenThroughTheDoubledBackslash) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring root = std::wstring(windows, 3);
    ASSERT_EQ(L":\\", root.substr(1));
    const std::wstring file = root + L"Desktop.ini";
    std::string earlier;
    const bool existed = ReadFileBytes(file, &earlier);
    const DWORD rootBefore = Attributes(root);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file.c_str());

    const auto seen = Set(root, L"C:\\sky.bmp");
    std::string bytes;
    const bool written = ReadFileBytes(file, &bytes);
    const DWORD fileAttributes = Attributes(file), rootAfter = Attributes(root);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(file.c_str());
    SetFileAttributesW(root.c_str(), rootBefore & ~FILE_ATTRIBUTE_DIRECTORY);
    if (existed) WriteFileBytes(file, earlier);
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(written);
    EXPECT_EQ(Entry("C:\\sky.bmp"), bytes);
    EXPECT_EQ(kHiddenSystem, fileAttributes & kHiddenSystem);
    // A root that is marked already (an NTFS root is hidden and system)
    // keeps its attributes; Wine's is a plain folder, and is marked.
    if (rootBefore & kMarks) {
        EXPECT_EQ(rootBefore, rootAfter);
    } else {
        EXPECT_NE(0u, rootAfter & kMarks);
    }
}

}  // namespace
}  // namespace kestro::test

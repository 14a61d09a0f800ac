// The shared open-file dialog (Wine's real comdlg32), driven from another
// thread as a user would: a file name typed in, then Open or Cancel.
#include "tests/ui/ui_fixture.h"

#include "form/form_layout.h"

namespace kestro::test {
namespace {

constexpr int kFileNameCombo = 0x47C;  // cmb13: the file name
constexpr int kFileNameEdit = 0x480;   // edt1: the file name in older layouts
constexpr int kFilterCombo = 0x470;    // cmb1: the file types

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

struct FindDialog {
    HWND found;
    bool fileDialog;  // only dialogs with a file name field
};

BOOL CALLBACK FindFileDialog(HWND window, LPARAM lParam) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    auto* find = reinterpret_cast<FindDialog*>(lParam);
    if (process == GetCurrentProcessId() && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(window) &&
        (!find->fileDialog || GetDlgItem(window, kFileNameCombo) || GetDlgItem(window, kFileNameEdit))) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

// Waits on its own thread for the open dialog, notes what it shows, then
// types `name` and presses Open, or presses Cancel when `name` is empty.
class FileDialogDriver {
public:
    struct Seen {
        std::wstring filter;         // the file type shown
        std::wstring initialName;    // what the name field held when it opened
    };
    explicit FileDialogDriver(std::wstring name) : name_(std::move(name)), thread_([this] { Run(); }) {}
    ~FileDialogDriver() { Finish(); }
    // What the dialogs looked like, in order; waits for the thread to be done.
    std::vector<Seen> Finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return seen_;
    }

private:
    void Run() {
        const DWORD end = GetTickCount() + 10000;
        while (!stop_ && static_cast<int>(end - GetTickCount()) > 0) {
            FindDialog find = {nullptr, true};
            EnumWindows(FindFileDialog, reinterpret_cast<LPARAM>(&find));
            if (!find.found) {
                Sleep(20);
                continue;
            }
            Sleep(200);  // let it fill its controls
            HWND name = GetDlgItem(find.found, kFileNameCombo);
            if (!name) name = GetDlgItem(find.found, kFileNameEdit);
            seen_.push_back({WindowText(GetDlgItem(find.found, kFilterCombo)), WindowText(name)});
            if (name_.empty()) {
                PostMessageW(find.found, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(find.found, IDCANCEL)));
            } else {
                SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name_.c_str()));
                PostMessageW(find.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(find.found, IDOK)));
            }
            for (int i = 0; i < 500 && IsWindow(find.found); ++i) Sleep(10);
            // Anything shown after it (a message about the name) is noted
            // and closed.
            for (int i = 0; i < 30; ++i) {
                FindDialog other = {nullptr, false};
                EnumWindows(FindFileDialog, reinterpret_cast<LPARAM>(&other));
                if (other.found) {
                    ++others_;
                    PostMessageW(other.found, WM_CLOSE, 0, 0);
                    PostMessageW(other.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                    Sleep(100);
                }
                Sleep(10);
            }
            return;
        }
    }

public:
    int others_ = 0;  // other dialogs that came up meanwhile

private:
    std::wstring name_;
    std::atomic<bool> stop_{false};
    std::vector<Seen> seen_;
    std::thread thread_;
};

bool ReadWallpaper(std::wstring* value) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    wchar_t data[MAX_PATH * 2] = {};
    DWORD type = 0, size = sizeof data - sizeof(wchar_t);
    const LONG result = RegQueryValueExW(key, L"Wallpaper", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return false;
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    *value = data;
    return true;
}

class FileDialogTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        CreateWindows();
    }
    // Presses `button`, and answers its dialog with `name` (empty: Cancel).
    FileDialogDriver::Seen Use(const char* button, const std::wstring& name) {
        FileDialogDriver driver(name);
        Click(button);
        const auto seen = driver.Finish();
        EXPECT_EQ(1u, seen.size()) << "dialogs seen";
        EXPECT_EQ(0, driver.others_) << "a message after the dialog";
        EXPECT_TRUE(errors_.errors.empty());
        return seen.empty() ? FileDialogDriver::Seen{} : seen[0];
    }
};

TEST_F(FileDialogTest, TheWallpaperChoiceStoresTheBitmapsFullPath) {
    TempFolder folder(L"kestro-wallpaper");
    const std::wstring bitmap = folder.Child(L"sky.bmp");
    ASSERT_TRUE(WriteFileBytes(bitmap, "BM"));
    const auto seen = Use("sbSetWallpaper", bitmap);
    EXPECT_EQ(L"*.bmp", seen.filter);
    std::wstring stored;
    ASSERT_TRUE(ReadWallpaper(&stored)) << "nothing stored";
    EXPECT_EQ(bitmap, stored);
}

// A picture in a folder with a Cyrillic name is stored as typed, whatever
// the system's code page.
TEST_F(FileDialogTest, ACyrillicWallpaperPathIsStoredExactly) {
    TempFolder folder(L"Кестро обои");
    const std::wstring bitmap = folder.Child(L"небо.bmp");
    ASSERT_TRUE(WriteFileBytes(bitmap, "BM"));
    Use("sbSetWallpaper", bitmap);
    std::wstring stored;
    ASSERT_TRUE(ReadWallpaper(&stored)) << "nothing stored";
    EXPECT_EQ(bitmap, stored);
}

TEST_F(FileDialogTest, ASecondUseCancelledLeavesTheFirstChoice) {
    TempFolder folder(L"kestro-wallpaper");
    const std::wstring first = folder.Child(L"first.bmp");
    ASSERT_TRUE(WriteFileBytes(first, "BM"));
    Use("sbSetWallpaper", first);
    const auto again = Use("sbSetWallpaper", L"");
    // The one dialog keeps the last name chosen.
    EXPECT_NE(std::wstring::npos, again.initialName.find(L"first.bmp")) << testing::PrintToString(again.initialName);
    std::wstring stored;
    ASSERT_TRUE(ReadWallpaper(&stored));
    EXPECT_EQ(first, stored);
}

TEST_F(FileDialogTest, ThePictureChoicePutsTheFullPathIntoItsField) {
    TempFolder folder(L"Кестро картинки");
    const std::wstring picture = folder.Child(L"закат.jpg");
    ASSERT_TRUE(WriteFileBytes(picture, "jpeg"));
    const auto seen = Use("bbSetPicture", picture);
    EXPECT_EQ(L"Изображения (*.bmp;*.jpg;*.jpeg)", seen.filter);
    EXPECT_EQ(picture, main_->Text("edPicture"));
    std::wstring stored;
    EXPECT_FALSE(ReadWallpaper(&stored)) << "the picture choice stores nothing";
}

TEST_F(FileDialogTest, ANameOfNoFileIsSilent) {
    TempFolder folder(L"kestro-nofile");
    Use("sbSetWallpaper", folder.Child(L"absent.bmp"));
    std::wstring stored;
    EXPECT_FALSE(ReadWallpaper(&stored));
    Use("bbSetPicture", folder.Child(L"absent.jpg"));
    EXPECT_EQ(kPicturePlaceholder, main_->Text("edPicture"));
}

}  // namespace
}  // namespace kestro::test

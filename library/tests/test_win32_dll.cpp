// The Windows DLL itself: its string table and version resource, refusing
// to load without a caption, the start-up notifications, and the default
// reporter (a modal warning box, observed by replacing the DLL's import of
// MessageBoxA).  The same replacement fails the run when any test lets a
// message box through.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

HMODULE LibraryModule()
{
    return GetModuleHandleA("QUARN32.dll");
}

struct StringEntry {
    UINT id;
    const char *text;
};

const StringEntry kStrings[] = {
#define QUARN_STRING(id, symbol, text) {id, text},
#include "strings.def"
#undef QUARN_STRING
};

TEST(Win32Resources, StringTableHoldsEveryTextOfTheLibrary)
{
    HMODULE module = LibraryModule();
    ASSERT_NE(module, nullptr);
    ASSERT_EQ(std::size(kStrings), 15u);
    for (const auto &entry : kStrings) {
        char buffer[256] = {};
        const int length = LoadStringA(module, entry.id, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, length > 0 ? length : 0), entry.text) << "id " << entry.id;
    }
    char buffer[16];
    EXPECT_EQ(LoadStringA(module, 12, buffer, sizeof buffer), 0);
    EXPECT_EQ(LoadStringA(module, 28, buffer, sizeof buffer), 0);
}

TEST(Win32Resources, VersionResourceMatchesQuarnVersion)
{
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(LibraryModule(), path, MAX_PATH), 0u);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, data.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&fixed), &fixedSize));
    ASSERT_GE(fixedSize, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00060000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00030001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00060000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00030000u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    // QuarnVersion carries the four parts of the file version as hex digits.
    const unsigned digits = (HIWORD(fixed->dwFileVersionMS) << 12) | (LOWORD(fixed->dwFileVersionMS) << 8) |
        (HIWORD(fixed->dwFileVersionLS) << 4) | LOWORD(fixed->dwFileVersionLS);
    EXPECT_EQ(digits, QuarnVersion());

    struct {
        const char *key;
        const char *value;
    } const texts[] = {
        {"\\StringFileInfo\\040904E4\\FileVersion", "6.03a"},
        {"\\StringFileInfo\\040904E4\\ProductVersion", "6.03"},
    };
    for (const auto &t : texts) {
        char *value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(data.data(), t.key, reinterpret_cast<void **>(&value), &length)) << t.key;
        EXPECT_STREQ(value, t.value) << t.key;
    }
}

TEST(Win32StartUp, LoadFailsWhenACaptionIsMissing)
{
    for (const char *name : {"QUARN32_without_14.dll", "QUARN32_without_15.dll", "QUARN32_without_27.dll"}) {
        SetLastError(0);
        HMODULE module = LoadLibraryA(name);
        const DWORD error = GetLastError();
        EXPECT_EQ(module, nullptr) << name;
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_DLL_INIT_FAILED)) << name;
        if (module != nullptr)
            FreeLibrary(module);
    }
}

TEST(Win32StartUp, LoadsAgainAndUnloadsCleanly)
{
    HMODULE module = LoadLibraryA("QUARN32.dll");
    ASSERT_EQ(module, LibraryModule());
    EXPECT_NE(GetProcAddress(module, "RGrep"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "RGrep@8"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "DllMain"), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}

DWORD WINAPI CompileInThread(LPVOID arg)
{
    auto *p = static_cast<QuarnPattern *>(arg);
    return static_cast<DWORD>(CompileRGrep("[a", 0, p));
}

TEST(Win32StartUp, ThreadNotificationsLeaveTheStateAlone)
{
    quarn_test::ReportCapture capture;
    QuarnOptions(QUARN_OPT_MESSAGES | QUARN_OPT_CR);
    QuarnResetError(0);
    QuarnSetError(9);
    auto p = quarn_test::NewPattern();
    HANDLE thread = CreateThread(nullptr, 0, CompileInThread, p.get(), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);

    EXPECT_EQ(code, 25u);
    EXPECT_EQ(QuarnMessages(1), QUARN_OPT_MESSAGES | QUARN_OPT_CR);
    EXPECT_EQ(QuarnResetError(0), 9);
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0], (quarn_test::Report{"Missing ]", "Regular Expression Error"}));
}

// Points QUARN32.dll's import of USER32!MessageBoxA at another function for
// its lifetime.
class MessageBoxPatch {
public:
    using Function = int(WINAPI *)(HWND, LPCSTR, LPCSTR, UINT);

    explicit MessageBoxPatch(Function replacement)
    {
        slot_ = FindImportSlot(LibraryModule(), "USER32.dll", "MessageBoxA");
        if (slot_ != nullptr)
            original_ = Swap(reinterpret_cast<ULONG_PTR>(replacement));
    }
    ~MessageBoxPatch()
    {
        if (slot_ != nullptr)
            Swap(original_);
    }
    MessageBoxPatch(const MessageBoxPatch &) = delete;
    MessageBoxPatch &operator=(const MessageBoxPatch &) = delete;

    bool installed() const { return slot_ != nullptr; }

private:
    static ULONG_PTR *FindImportSlot(HMODULE module, const char *dll, const char *function)
    {
        auto *base = reinterpret_cast<BYTE *>(module);
        auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
        auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (dir.VirtualAddress == 0)
            return nullptr;
        for (auto *imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); imp->Name != 0;
             ++imp) {
            if (lstrcmpiA(reinterpret_cast<char *>(base + imp->Name), dll) != 0)
                continue;
            auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->OriginalFirstThunk);
            auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + imp->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<char *>(byName->Name), function) == 0)
                    return reinterpret_cast<ULONG_PTR *>(&slots->u1.Function);
            }
        }
        return nullptr;
    }

    ULONG_PTR Swap(ULONG_PTR value)
    {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
        const ULONG_PTR previous = *slot_;
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
        return previous;
    }

    ULONG_PTR *slot_ = nullptr;
    ULONG_PTR original_ = 0;
};

struct BoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    std::string test; // the test that showed it
};

std::string CurrentTestName()
{
    const auto *info = testing::UnitTest::GetInstance()->current_test_info();
    return info ? std::string(info->test_suite_name()) + "." + info->name() : "(outside a test)";
}

// Records the message boxes of one test instead of showing them.
class MessageBoxSpy {
public:
    MessageBoxSpy() : patch_(&Record) { calls_.clear(); }
    bool installed() const { return patch_.installed(); }
    static const std::vector<BoxCall> &calls() { return calls_; }

private:
    static int WINAPI Record(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
    {
        calls_.push_back({owner, text ? text : "(null)", caption ? caption : "(null)", type, CurrentTestName()});
        return IDOK;
    }
    static std::vector<BoxCall> calls_;
    MessageBoxPatch patch_;
};
std::vector<BoxCall> MessageBoxSpy::calls_;

// For the whole run: a test that reports with messages on and no sink would
// stop at a modal box on a Windows desktop (Wine without a display only
// hides that).  Such boxes are caught here and fail the run.
class StrayMessageBoxes : public testing::Environment {
public:
    void SetUp() override { patch_ = new MessageBoxPatch(&Record); }
    void TearDown() override
    {
        delete patch_;
        patch_ = nullptr;
        for (const auto &call : stray_)
            ADD_FAILURE() << "message box \"" << call.caption << ": " << call.text << "\" shown by " << call.test;
    }

private:
    static int WINAPI Record(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
    {
        stray_.push_back({owner, text ? text : "(null)", caption ? caption : "(null)", type, CurrentTestName()});
        return IDOK;
    }
    static std::vector<BoxCall> stray_;
    MessageBoxPatch *patch_ = nullptr;
};
std::vector<BoxCall> StrayMessageBoxes::stray_;

[[maybe_unused]] testing::Environment *const gStrayMessageBoxes =
    testing::AddGlobalTestEnvironment(new StrayMessageBoxes);

TEST(Win32DefaultReporter, IsAModalWarningBoxWithoutOwner)
{
    MessageBoxSpy spy;
    ASSERT_TRUE(spy.installed()) << "QUARN32.dll does not import MessageBoxA";
    QuarnSetMessageSink(nullptr);
    QuarnOptions(QUARN_OPT_MESSAGES);
    auto p = quarn_test::NewPattern();
    EXPECT_EQ(CompileRGrep("", 0, p.get()), 6);
    ASSERT_EQ(MessageBoxSpy::calls().size(), 1u);
    const auto &call = MessageBoxSpy::calls()[0];
    EXPECT_EQ(call.owner, nullptr);
    EXPECT_EQ(call.text, "No regular expression provided");
    EXPECT_EQ(call.caption, "Regular Expression Error");
    EXPECT_EQ(call.type, static_cast<UINT>(MB_OK | MB_ICONWARNING));
}

TEST(Win32DefaultReporter, SilentWhenMessagesAreOffAndReplacedByTheSink)
{
    MessageBoxSpy spy;
    ASSERT_TRUE(spy.installed());
    auto p = quarn_test::NewPattern();
    QuarnSetMessageSink(nullptr);
    QuarnOptions(0);
    EXPECT_EQ(CompileRGrep("\\(a", 0, p.get()), 34);
    {
        quarn_test::ReportCapture capture;
        EXPECT_EQ(CompileRGrep("\\(a", 0, p.get()), 34);
        EXPECT_EQ(capture.reports().size(), 1u);
    }
    QuarnOptions(QUARN_OPT_MESSAGES);
    EXPECT_TRUE(MessageBoxSpy::calls().empty());
}

} // namespace

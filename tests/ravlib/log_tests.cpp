// Logging: the empty default sink, line formatting and cutting, the error text, and
// the file sink.
#include "ravlib/log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "support/test_support.h"

using ravlib::FormatSystemError;
using ravlib::InstallFileLogSink;
using ravlib::LogError;
using ravlib::LogMessage;
using ravlib::SetLogSink;
using ravlib::TrimSystemText;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

namespace {

struct Line {
    int level;
    std::wstring text;
    int length;
};
std::vector<Line> g_lines;

int RecordingSink(int level, const wchar_t* text, int length) {
    g_lines.push_back(Line{level, text, length});
    return 77;
}

class Logging : public ::testing::Test {
protected:
    void SetUp() override { g_lines.clear(); }
    void TearDown() override { SetLogSink(nullptr); }
};

std::wstring SystemText(int code) {
    wchar_t text[4096];
    int length = -1;
    FormatSystemError(code, text, 4096, &length);
    EXPECT_EQ(length, static_cast<int>(wcslen(text)));
    return text;
}

TEST_F(Logging, NothingIsInstalledAndNothingIsFormattedWithoutASink) {
    EXPECT_EQ(SetLogSink(nullptr), nullptr);
    // An argument that cannot be read: formatting it would fault.
    void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(LogMessage(2, L"gets file %s,tick=%u", page, 5u), 0);
    EXPECT_EQ(LogError(2, L"open %s", page), 0);
    VirtualFree(page, 0, MEM_RELEASE);
}

TEST_F(Logging, LinesReachTheSinkWithTheirLevel) {
    EXPECT_EQ(SetLogSink(RecordingSink), nullptr);
    EXPECT_EQ(LogMessage(2, L"bind port %d", 8080), 77);
    EXPECT_EQ(LogMessage(3, L"wide %s narrow %hs long %ls", L"宽", "narrow", L"w"), 77);
    EXPECT_EQ(LogMessage(2, L"接入新连接"), 77);
    ASSERT_EQ(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[0].level, 2);
    EXPECT_EQ(g_lines[0].text, L"bind port 8080");
    EXPECT_EQ(g_lines[0].length, 14);
    EXPECT_EQ(g_lines[1].level, 3);
    EXPECT_EQ(g_lines[1].text, L"wide 宽 narrow narrow long w");
    EXPECT_EQ(g_lines[2].text, L"接入新连接");
    EXPECT_EQ(SetLogSink(nullptr), RecordingSink);
    EXPECT_EQ(LogMessage(2, L"gone"), 0);
    EXPECT_EQ(g_lines.size(), 3u);
}

TEST_F(Logging, LongLinesAreCutAtTheBuffer) {
    SetLogSink(RecordingSink);
    std::wstring text(1500, L'x');
    LogMessage(2, L"%s", text.c_str());
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0].length, 1023);
    EXPECT_EQ(g_lines[0].text, text.substr(0, 1023));
}

// LogError appends " <code> " and the system text into what is left of the line; the
// length handed on always matches the text.
TEST_F(Logging, ErrorLinesCarryTheCodeAndTheSystemText) {
    const int kCode = ERROR_FILE_NOT_FOUND;
    const std::wstring systemText = SystemText(kCode);
    ASSERT_FALSE(systemText.empty());
    SetLogSink(RecordingSink);
    for (int messageLength : {0, 9, 1000, 1015, 1019, 1020, 1021, 1022, 1023, 1100}) {
        g_lines.clear();
        std::wstring message(static_cast<size_t>(messageLength), L'm');
        EXPECT_EQ(LogError(kCode, L"%s", message.c_str()), 77);
        ASSERT_EQ(g_lines.size(), 1u);
        std::wstring expected = (message + L" 2 " + systemText).substr(0, 1023);
        EXPECT_EQ(g_lines[0].level, 3);
        EXPECT_EQ(g_lines[0].text, expected) << "message of " << messageLength;
        EXPECT_EQ(g_lines[0].length, static_cast<int>(expected.size())) << "message of " << messageLength;
    }
}

TEST(SystemErrorText, CutsToTheDestination) {
    const std::wstring full = SystemText(ERROR_ACCESS_DENIED);
    const int n = static_cast<int>(full.size());
    ASSERT_GT(n, 5);
    EXPECT_NE(full.back(), L'.');
    EXPECT_NE(full.back(), L'\n');
    struct Case {
        int maxChars;
        int copied;
    } cases[] = {{n + 10, n}, {n + 1, n}, {n, n - 1}, {5, 4}, {1, 0}};
    for (const Case& c : cases) {
        wchar_t dest[4096];
        wmemset(dest, L'#', 4096);
        int length = -1;
        EXPECT_EQ(FormatSystemError(ERROR_ACCESS_DENIED, dest, c.maxChars, &length), dest);
        EXPECT_EQ(length, n);
        EXPECT_EQ(std::wstring(dest), full.substr(0, c.copied)) << "maxChars " << c.maxChars;
        EXPECT_EQ(dest[c.copied + 1], L'#');
    }
    // No room: nothing is written, not even before the destination.
    wchar_t guarded[3] = {L'#', L'#', L'#'};
    int length = -1;
    FormatSystemError(ERROR_ACCESS_DENIED, guarded + 1, 0, &length);
    EXPECT_EQ(length, n);
    EXPECT_EQ(std::wstring(guarded, 3), L"###");
    // Without a destination only the length is given.
    EXPECT_EQ(FormatSystemError(ERROR_ACCESS_DENIED, nullptr, 100, &length), nullptr);
    EXPECT_EQ(length, n);
    // A code without a text: empty, length 0.
    wchar_t dest[16] = L"old";
    FormatSystemError(0x2ABCDEF1, dest, 16, &length);
    EXPECT_EQ(length, 0);
    EXPECT_STREQ(dest, L"");
}

TEST(SystemErrorText, TrailingLineEndsSpacesAndFullStopsAreRemoved) {
    struct Case {
        const wchar_t* text;
        const wchar_t* kept;
    } cases[] = {
        {L"拒绝访问。\r\n", L"拒绝访问"},
        {L"File not found.\r\n", L"File not found"},
        {L"Access denied. \r\n", L"Access denied"},
        {L"数据错误 1012\r\n", L"数据错误 1012"},  // digits stay
        {L"参数一\r\n", L"参数一"},                  // so does U+4E00
        {L"call (12)\r\n", L"call (12)"},
        {L" .\r\n", L""},
        {L"", L""},
    };
    for (const Case& c : cases) {
        int length = TrimSystemText(c.text, static_cast<int>(wcslen(c.text)));
        EXPECT_EQ(std::wstring(c.text, static_cast<size_t>(length)), c.kept);
    }
}

// Threads log at once: the sink is never entered twice at the same time and every
// line arrives whole.
std::atomic<int> g_inside{0};
std::atomic<int> g_overlaps{0};
std::atomic<int> g_received{0};
std::atomic<int> g_broken{0};
int SerialSink(int, const wchar_t* text, int length) {
    if (g_inside.fetch_add(1) != 0) ++g_overlaps;
    int thread = -1, line = -1;
    wchar_t tail[8] = {};
    if (swscanf(text, L"thread %d line %d %3ls", &thread, &line, tail) != 3 ||
        wcscmp(tail, L"end") != 0 || length != static_cast<int>(wcslen(text)))
        ++g_broken;
    ++g_received;
    g_inside.fetch_sub(1);
    return 1;
}

struct LoggingThread {
    int id;
    static const int kLines = 3000;
    static DWORD WINAPI Run(void* self) {
        int id = static_cast<LoggingThread*>(self)->id;
        for (int i = 0; i < kLines; ++i) LogMessage(2, L"thread %d line %d %s", id, i, L"end");
        return 0;
    }
};

TEST_F(Logging, OneLineAtATime) {
    SetLogSink(SerialSink);
    const int kThreads = 4;
    LoggingThread ids[kThreads];
    HANDLE threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        ids[i].id = i;
        threads[i] = CreateThread(nullptr, 0, LoggingThread::Run, &ids[i], 0, nullptr);
    }
    WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    EXPECT_EQ(g_received.load(), kThreads * LoggingThread::kLines);
    EXPECT_EQ(g_overlaps.load(), 0);
    EXPECT_EQ(g_broken.load(), 0);
}

TEST_F(Logging, FileSinkAppendsStampedUtf8Lines) {
    TempDir dir;
    const std::wstring path = dir.path() + L"launcher.log";
    ASSERT_TRUE(InstallFileLogSink(path.c_str()));
    EXPECT_GT(LogMessage(2, L"bind port %d", 8080), 0);
    EXPECT_GT(LogError(ERROR_FILE_NOT_FOUND, L"open %s", L"缓存.dat"), 0);
    ASSERT_TRUE(InstallFileLogSink(nullptr));  // removes and closes it
    EXPECT_EQ(LogMessage(2, L"not written"), 0);
    ASSERT_TRUE(InstallFileLogSink(path.c_str()));  // appends to what is there
    LogMessage(7, L"接入新连接");
    SetLogSink(nullptr);  // replacing it closes the file too

    std::vector<uint8_t> bytes = ReadFileBytes(path);
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(lines.size(), 3u) << text;
    // "YYYY-MM-DD hh:mm:ss.mmm [level] text"
    for (const std::string& line : lines) {
        ASSERT_GT(line.size(), 24u);
        EXPECT_EQ(line[4], '-');
        EXPECT_EQ(line[10], ' ');
        EXPECT_EQ(line[13], ':');
        EXPECT_EQ(line[19], '.');
        EXPECT_EQ(line[23], ' ');
    }
    EXPECT_EQ(lines[0].substr(24), "[info] bind port 8080");
    EXPECT_EQ(lines[1].substr(24),
              "[error] open \xE7\xBC\x93\xE5\xAD\x98.dat 2 " +
                  Utf8FromWide(SystemText(ERROR_FILE_NOT_FOUND)));
    EXPECT_EQ(lines[2].substr(24), "[level 7] \xE6\x8E\xA5\xE5\x85\xA5\xE6\x96\xB0\xE8\xBF\x9E\xE6\x8E\xA5");
    EXPECT_TRUE(DeleteFileW(path.c_str())) << "the file is still open";

    // A file that cannot be opened leaves the sink as it was.
    SetLogSink(RecordingSink);
    EXPECT_FALSE(InstallFileLogSink((dir.path() + L"missing\\launcher.log").c_str()));
    EXPECT_EQ(SetLogSink(nullptr), RecordingSink);
}

}  // namespace

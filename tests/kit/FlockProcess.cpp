#include "kit/FlockProcess.h"

#include "kit/TextFile.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace kit {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadyTimeoutMs = 30000;
constexpr int kCommandTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 10000;

void pause()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// One word for the shell.
std::string shellQuoted(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// " HH HH ..".
std::string hexBytes(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char hex[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(hex, sizeof hex, " %02X", byte);
        text += hex;
    }
    return text;
}

#if defined(_WIN32)
// One argument of a Windows command line, as the C runtime splits it.
std::string commandLineQuoted(const std::string& argument)
{
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}
#endif

}  // namespace

std::string localPath(const std::string& unixPath)
{
#if defined(_WIN32)
    // Wine knows where its drives lead; without it, Z: is the root.
    using DosFileName = WCHAR*(CDECL*)(const char*);
    const auto dosFileName = reinterpret_cast<DosFileName>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (dosFileName != nullptr) {
        if (WCHAR* wide = dosFileName(unixPath.c_str())) {
            char narrow[MAX_PATH * 4] = {};
            const int length = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
            ::HeapFree(::GetProcessHeap(), 0, wide);
            if (length > 0) {
                return narrow;
            }
        }
    }
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
#else
    return unixPath;
#endif
}

long FlockProcess::ownerPid()
{
    // The first field of the file that Linux keeps for the process that
    // opens it.
    std::istringstream stat(contentOf(localPath("/proc/self/stat")));
    long pid = 0;
    stat >> pid;
    return pid;
}

FlockProcess::FlockProcess(const std::string& program, const std::vector<std::string>& options)
{
    if (!makeDirectory()) {
        return;
    }
    std::string script = "exec " + shellQuoted(program);
    for (const std::string& option : options) {
        script += " " + shellQuoted(option);
    }
    script += " --control " + shellQuoted(unixDirectory_) + " --ready-file " + shellQuoted(unixDirectory_ + "/ready");
    const long owner = ownerPid();
    if (owner > 0) {
        script += " --owner-pid " + std::to_string(owner);
    }
    script += " </dev/null >" + shellQuoted(unixDirectory_ + "/output") + " 2>" +
              shellQuoted(unixDirectory_ + "/errors");
    running_ = spawn(script);
    if (running_ && !waitUntilReady()) {
        stop();
    }
}

FlockProcess::~FlockProcess()
{
    stop();
}

bool FlockProcess::makeDirectory()
{
    static std::atomic<unsigned> serial{0};
    const char* temporary = std::getenv("TMPDIR");
    const std::string base = temporary != nullptr && temporary[0] == '/' ? temporary : "/tmp";
    const std::string stem = base + "/vantrel-flock-" + std::to_string(ownerPid()) + "-";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = stem + std::to_string(serial++);
        std::error_code error;
        if (std::filesystem::create_directory(localPath(candidate), error)) {
            unixDirectory_ = candidate;
            directory_ = localPath(candidate);
            return true;
        }
    }
    problem_ = "cannot make a control directory like " + stem + "N";
    return false;
}

std::string FlockProcess::file(const char* name) const
{
    return (std::filesystem::path(directory_) / name).string();
}

bool FlockProcess::spawn(const std::string& script)
{
#if defined(_WIN32)
    // Wine runs a Linux program that a Windows program starts; it gives no
    // handle of the process back.
    std::string commandLine = localPath("/bin/sh") + " -c " + commandLineQuoted(script);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &process) == 0) {
        problem_ = "cannot start the simulator program: error " + std::to_string(::GetLastError());
        return false;
    }
    for (HANDLE handle : {process.hProcess, process.hThread}) {
        if (handle != nullptr) {
            ::CloseHandle(handle);
        }
    }
    return true;
#else
    const char* arguments[] = {"sh", "-c", script.c_str(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(arguments), environ) != 0) {
        problem_ = "cannot start the simulator program";
        return false;
    }
    child_ = pid;
    return true;
#endif
}

bool FlockProcess::waitUntilReady()
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
    while (Clock::now() < deadline) {
        std::istringstream ready(contentOf(file("ready")));
        std::string name;
        if (std::getline(ready, name) && !name.empty()) {
            openName_ = name;
            return true;
        }
        if (!contentOf(file("errors")).empty()) {
            // The program says why in one write, and ends; give the write
            // time to land whole.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            problem_ = "the simulator program did not start: " + contentOf(file("errors"));
            return false;
        }
        pause();
    }
    problem_ = "the simulator program did not get ready within " + std::to_string(kReadyTimeoutMs / 1000) + " s";
    return false;
}

void FlockProcess::issue(const std::string& command, bool wait)
{
    if (!running_) {
        return;
    }
    const std::string name = "command-" + std::to_string(++issued_);
    const std::string temporary = file((name + ".tmp").c_str());
    {
        std::ofstream output(temporary, std::ios::binary | std::ios::trunc);
        output << command << "\n";
    }
    std::rename(temporary.c_str(), file(name.c_str()).c_str());
    if (!wait) {
        return;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCommandTimeoutMs);
    std::uint64_t done = 0;
    std::vector<std::uint8_t> bytes;
    while (!(readLog(done, bytes) && done >= issued_)) {
        if (Clock::now() >= deadline) {
            problem_ = "the simulator program did not carry out " + name;
            return;
        }
        pause();
    }
}

bool FlockProcess::readLog(std::uint64_t& done, std::vector<std::uint8_t>& bytes) const
{
    std::istringstream log(contentOf(file("received")));
    std::string word;
    if (!(log >> word >> done) || word != "done") {
        return false;
    }
    bytes.clear();
    unsigned value = 0;
    while (log >> std::hex >> value) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return true;
}

std::vector<std::uint8_t> FlockProcess::received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t done = 0;
    std::vector<std::uint8_t> bytes;
    if (!running_ || !readLog(done, bytes)) {
        return {};
    }
    return bytes;
}

void FlockProcess::clearLog()
{
    std::lock_guard<std::mutex> lock(mutex_);
    issue("clear");
}

void FlockProcess::send(const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    issue("send" + hexBytes(bytes));
}

void FlockProcess::sendEvery(const std::vector<std::uint8_t>& bytes, int intervalMs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    issue("every " + std::to_string(intervalMs) + hexBytes(bytes));
}

void FlockProcess::hangUp(const std::string& how, int backAfterMs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    issue("hang-up " + how + " " + std::to_string(backAfterMs));
}

void FlockProcess::stop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) {
        // The program removes its port, then its ready file, and ends.
        issue("stop", false);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
        while (!openName_.empty() && std::filesystem::exists(file("ready")) && Clock::now() < deadline) {
            pause();
        }
        running_ = false;
    }
#if !defined(_WIN32)
    if (child_ != 0) {
        const pid_t pid = static_cast<pid_t>(child_);
        const auto deadline = Clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
        while (::waitpid(pid, nullptr, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
                break;
            }
            pause();
        }
        child_ = 0;
    }
#endif
    // Without its directory a program that is still there ends as well.
    if (!directory_.empty()) {
        std::error_code error;
        std::filesystem::remove_all(directory_, error);
        directory_.clear();
    }
}

}  // namespace kit

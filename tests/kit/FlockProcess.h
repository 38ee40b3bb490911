#pragma once
// The flock simulator program (flocksim) in a process of its own, driven
// through a control directory (flocksim --control): for a test program that
// cannot run the simulator in its own process. Under Wine the simulator is a
// native Linux program beside the Windows test program; it serves a COM port
// of the Wine prefix.
//
// Every call is carried out when it returns: the program has taken the
// command (the bytes are queued on the line, the log is cleared).
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kit {

class FlockProcess {
public:
    // program: the simulator program's Linux path; options: its options
    // (those of the flock, and --wine-com under Wine). Starts it and waits
    // until it is ready.
    FlockProcess(const std::string& program, const std::vector<std::string>& options);
    // Stops the program.
    ~FlockProcess();
    FlockProcess(const FlockProcess&) = delete;
    FlockProcess& operator=(const FlockProcess&) = delete;

    // False when the program could not be started; problem() says why.
    bool started() const { return !openName_.empty(); }
    const std::string& problem() const { return problem_; }
    // The name that a driver opens as its port.
    const std::string& openName() const { return openName_; }

    // Every byte the flock received so far, in order.
    std::vector<std::uint8_t> received() const;
    void clearLog();
    // Puts bytes on the line in one write, as they are.
    void send(const std::vector<std::uint8_t>& bytes);
    // Puts them on the line now and every interval; no bytes: no more.
    void sendEvery(const std::vector<std::uint8_t>& bytes, int intervalMs);
    // Hangs up now (how: silence, close or power-off), back after the time
    // (0: never); a closed line comes back under the same name.
    void hangUp(const std::string& how, int backAfterMs);

    // Ends the program and waits until it has removed its port, then
    // removes the control directory. Also done on destruction.
    void stop();

    // The Linux process that the program ends with, should this program
    // end without stopping it: the one that opens this program's files.
    // Natively that is this program. Under Wine it is the Wine server, which
    // opens the files of its Windows programs and ends soon after the last
    // of them.
    static long ownerPid();

private:
    bool makeDirectory();
    bool spawn(const std::string& script);
    bool waitUntilReady();
    // Writes the next command file and waits until the program carried it
    // out (wait false: does not wait).
    void issue(const std::string& command, bool wait = true);
    // The program's log: the last command done and the bytes received.
    bool readLog(std::uint64_t& done, std::vector<std::uint8_t>& bytes) const;
    // A path below the control directory, as this program opens it.
    std::string file(const char* name) const;

    std::string unixDirectory_;  // as the simulator program sees it
    std::string directory_;      // as this program opens it
    std::string openName_;
    std::string problem_;
    std::uint64_t issued_ = 0;
    bool running_ = false;
    long child_ = 0;  // natively: the program's process id
    mutable std::mutex mutex_;
};

// A Linux path as this program opens it: under Wine, on a DOS drive.
std::string localPath(const std::string& unixPath);

}  // namespace kit

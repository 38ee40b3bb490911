#pragma once
// A COM port of the Wine prefix that leads to a path: the link
// dosdevices/comN in $WINEPREFIX (default ~/.wine).
#include <string>

namespace flocksim {

class WineComLink {
public:
    // The numbers tried when any free port will do.
    static constexpr unsigned kFirstAutomatic = 20;
    static constexpr unsigned kLast = 256;

    WineComLink() = default;
    ~WineComLink();
    WineComLink(const WineComLink&) = delete;
    WineComLink& operator=(const WineComLink&) = delete;

    // Makes COM<number> lead to target; number 0 takes the first free number
    // from kFirstAutomatic on. An existing link is replaced only when what it
    // leads to is gone. False with a reason on failure.
    bool create(unsigned number, const std::string& target, std::string& error);
    // Makes the link lead to another target (a line that came back on a new
    // pseudo-terminal), in one step: the name never leads nowhere meanwhile.
    bool retarget(const std::string& target, std::string& error);
    // Removes the link if it still leads to the target.
    void remove();

    // Makes the symbolic link `link` lead to target in one step (made under
    // another name and renamed into place), so that the name never leads
    // nowhere meanwhile. False with errno on failure.
    static bool swapLink(const std::string& link, const std::string& target);

    // "COM23"; empty before create.
    std::string comName() const;
    // The name a Windows program opens, valid for every number: "\\.\COM23".
    std::string openName() const;

private:
    unsigned number_ = 0;
    std::string link_;
    std::string target_;
};

}  // namespace flocksim

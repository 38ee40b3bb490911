#include "PublisherList.h"

// Every output of the host, one line each, in the order in which a run makes
// them (and finishes them the other way round); among the concurrent ones it
// is also the order in which each record reaches them, the cheapest first.
// Each names the maker that its publisher's file defines: it returns the
// publisher when the options ask for it, null when they do not, and null
// with the reason when it cannot be made.
#define VANTREL_PUBLISHERS(PUBLISHER)                          \
    PUBLISHER(makeLiveTable)           /* --format table */     \
    PUBLISHER(makeStandardOutputLines) /* --format jsonl|csv */ \
    PUBLISHER(makeRecordFile)          /* --record FILE */      \
    PUBLISHER(makeSharedStorages)      /* --shm NAME */         \
    PUBLISHER(makeOscPublisher)        /* --osc HOST:PORT */    \
    PUBLISHER(makeHttpView)            /* --http PORT */        \
    /* the next one here */

namespace host {

namespace {

using MakePublisher = std::unique_ptr<Publisher> (*)(const OutputOptions& options, std::string& error);

}  // namespace

#define VANTREL_DECLARE_MAKER(maker) std::unique_ptr<Publisher> maker(const OutputOptions& options, std::string& error);
VANTREL_PUBLISHERS(VANTREL_DECLARE_MAKER)

bool makePublishers(const OutputOptions& options, std::vector<std::unique_ptr<Publisher>>& made,
                    std::string& error)
{
#define VANTREL_LIST_MAKER(maker) &maker,
    const MakePublisher makers[] = {VANTREL_PUBLISHERS(VANTREL_LIST_MAKER)};
    for (MakePublisher make : makers) {
        error.clear();
        std::unique_ptr<Publisher> publisher = make(options, error);
        if (!error.empty()) {
            return false;
        }
        if (publisher) {
            made.push_back(std::move(publisher));
        }
    }
    return true;
}

}  // namespace host

#pragma once
// The one list of the host's outputs (PublisherList.cpp).
#include <memory>
#include <string>
#include <vector>

#include "OutputOptions.h"
#include "Publisher.h"

namespace host {

// Every publisher that the options ask for, in the order of the list. False
// with the reason when one cannot be made; `made` then holds the ones made
// before it, which the caller finishes.
bool makePublishers(const OutputOptions& options, std::vector<std::unique_ptr<Publisher>>& made,
                    std::string& error);

}  // namespace host

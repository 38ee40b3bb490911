// The host's outputs on their own: the record file's format by its name, the
// live table's rows.
#include <gtest/gtest.h>

#include <string>

#include "host/publish/LinePublisher.h"

namespace {

TEST(HostOutput, TheRecordsFormatFollowsItsExtensionInAnyCase)
{
    EXPECT_EQ(host::LinePublisher::formatOf("R.csv"), host::Format::Csv);
    EXPECT_EQ(host::LinePublisher::formatOf("R.CSV"), host::Format::Csv);
    EXPECT_EQ(host::LinePublisher::formatOf("lab/run.Csv"), host::Format::Csv);
    EXPECT_EQ(host::LinePublisher::formatOf("R.jsonl"), host::Format::JsonLines);
    EXPECT_EQ(host::LinePublisher::formatOf("R.JSONL"), host::Format::JsonLines);
    EXPECT_EQ(host::LinePublisher::formatOf("csv"), host::Format::JsonLines);
    EXPECT_EQ(host::LinePublisher::formatOf("R.csv.txt"), host::Format::JsonLines);
}

}  // namespace

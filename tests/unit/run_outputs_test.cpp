#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/application.h"
#include "app/run_outputs.h"

namespace {

// Logs every end call as "NAME:call"; fails the call named in failAt.
class LoggedOutput final : public RunOutput {
public:
    LoggedOutput(std::string name, std::vector<std::string>& log, std::string failAt = "")
        : name_(std::move(name)), failAt_(std::move(failAt)), log_(log) {}
    bool finish(const char* reason, std::string& error) override { return step(std::string("finish ") + reason, error); }
    bool commit(std::string& error) override { return step("commit", error); }
    void abandon() override { log_.push_back(name_ + ":abandon"); }

private:
    bool step(const std::string& call, std::string& error)
    {
        log_.push_back(name_ + ":" + call);
        if (call.rfind(failAt_, 0) != 0 || failAt_.empty()) return true;
        error = name_ + " failed";
        return false;
    }
    std::string name_, failAt_;
    std::vector<std::string>& log_;
};

std::unique_ptr<RunOutputs> twoOutputs(std::vector<std::string>& log, const std::string& secondFails = "")
{
    std::vector<std::unique_ptr<RunOutput>> list;
    list.push_back(std::make_unique<LoggedOutput>("a", log));
    list.push_back(std::make_unique<LoggedOutput>("b", log, secondFails));
    return std::make_unique<RunOutputs>(std::move(list));
}

}  // namespace

// Every output is finished before any is committed, so one that cannot complete leaves every
// existing file as it was; a run that fails earlier, or never ends, abandons them all.
TEST(RunOutputs, NothingIsCommittedUnlessEveryOutputFinished)
{
    std::vector<std::string> log;
    std::string error;
    EXPECT_TRUE(twoOutputs(log)->end("frames", error));
    EXPECT_EQ(log, (std::vector<std::string>{"a:finish frames", "b:finish frames", "a:commit", "b:commit"}));

    log.clear();
    EXPECT_FALSE(twoOutputs(log, "finish")->end("escape", error));
    EXPECT_EQ(error, "b failed");
    EXPECT_EQ(log, (std::vector<std::string>{"a:finish escape", "b:finish escape", "a:abandon", "b:abandon"}));

    log.clear();
    auto failed = twoOutputs(log);
    failed->fail("the disk is full");
    failed->fail("a later failure");
    EXPECT_FALSE(failed->end("frames", error));
    EXPECT_EQ(error, "the disk is full");
    EXPECT_TRUE(quitPosted());  // the run ends after the frame
    clearQuit();
    EXPECT_EQ(log, (std::vector<std::string>{"a:abandon", "b:abandon"}));

    log.clear();
    twoOutputs(log).reset();
    EXPECT_EQ(log, (std::vector<std::string>{"a:abandon", "b:abandon"}));
}

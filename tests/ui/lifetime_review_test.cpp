// Objects freed by their own handlers and calls made in the wrong order.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "ui_probe.h"

using namespace ui;

namespace {

class Job : public TThread {
 public:
  explicit Job(std::function<void()> body) : TThread(true), mBody(std::move(body)) {}

 protected:
  void Execute() override { mBody(); }

 private:
  std::function<void()> mBody;
};

}  // namespace

TEST(UiLifetime, ThreadFreedInItsOwnEndHandler) {
  for (bool free_on_terminate : {false, true}) {
    test::Session s;
    int ends = 0;
    auto* job = Create<Job>([] {});
    job->FreeOnTerminate = free_on_terminate;
    // The handler frees the thread whose end it reports (and with it the
    // handler itself).
    job->SetOnTerminate(nullptr, [&ends, job](TObject*) {
      ++ends;
      TObject::Free(job);
    });
    job->Start();
    ASSERT_TRUE(test::PumpUntil([&] { return ends > 0; }, 10000));
    Application->ProcessMessages();
    EXPECT_EQ(ends, 1);
  }
}

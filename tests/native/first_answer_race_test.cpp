#include "service/first_answer_race.h"

#include <gtest/gtest.h>

#include "fakes/fake_host_probe.h"

namespace {

using End = FirstAnswerRace::End;

struct Race {
  explicit Race(int count, bool started = true) {
    for (int i = 0; i < count; ++i) {
      probes.startResult = started;
      race.Add(probes.Create(L"http://host" + std::to_wstring(i) + L"/"));
    }
  }
  FakeProbes probes;
  FirstAnswerRace race{[](int32_t status, const std::string& body) {
    return status == 200 && body.rfind("ok", 0) == 0;
  }};
};

TEST(FirstAnswerRace, FirstCompleteAcceptedAnswerWinsAndTheRestRunOut) {
  Race r(4);
  EXPECT_EQ(r.race.Start(), 0u);
  auto& p = r.probes.live;
  p[2]->Answer(200, "ok", /*answerComplete=*/false);  // cut short
  EXPECT_EQ(r.race.OnEnded(p[2]->Id()), End::kLost);
  p[0]->Answer(500, "ok");
  EXPECT_EQ(r.race.OnEnded(p[0]->Id()), End::kLost);
  p[3]->Answer(200, "ok 3");
  EXPECT_EQ(r.race.OnEnded(p[3]->Id()), End::kWon);
  EXPECT_EQ(r.race.winner(), 3);
  EXPECT_EQ(r.race.request(3).Body(), "ok 3");
  EXPECT_FALSE(r.race.AllEnded());
  // A later good answer does not take the win away.
  p[1]->Answer(200, "ok 1");
  EXPECT_EQ(r.race.OnEnded(p[1]->Id()), End::kLost);
  EXPECT_EQ(r.race.winner(), 3);
  EXPECT_TRUE(r.race.AllEnded());
}

TEST(FirstAnswerRace, RequestsThatCannotStartCountAsEnded) {
  Race none(3, /*started=*/false);
  EXPECT_EQ(none.race.Start(), 3u);
  EXPECT_TRUE(none.race.AllEnded());
  EXPECT_EQ(none.race.winner(), -1);

  Race empty(0);
  EXPECT_EQ(empty.race.Start(), 0u);
  EXPECT_TRUE(empty.race.AllEnded());
}

TEST(FirstAnswerRace, EventsOfClearedRequestsAreStale) {
  Race r(2);
  r.race.Start();
  const void* old = r.probes.live[0]->Id();
  r.race.Clear();
  EXPECT_EQ(r.race.size(), 0u);
  EXPECT_EQ(r.race.OnEnded(old), End::kStale);
  EXPECT_TRUE(r.race.AllEnded());
}

}  // namespace

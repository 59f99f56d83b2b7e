#include "service/first_answer_race.h"

size_t FirstAnswerRace::Start() {
  size_t unstarted = 0;
  for (auto& request : requests_) {
    if (!request->Start()) ++unstarted;
  }
  ended_ += unstarted;
  return unstarted;
}

FirstAnswerRace::End FirstAnswerRace::OnEnded(const void* id) {
  size_t index = 0;
  while (index < requests_.size() && requests_[index]->Id() != id) ++index;
  if (index == requests_.size()) return End::kStale;
  ++ended_;
  const HostProbe& request = *requests_[index];
  if (winner_ >= 0 || !request.Complete() || !accept_(request.StatusCode(), request.Body())) {
    return End::kLost;
  }
  winner_ = static_cast<int>(index);
  return End::kWon;
}

void FirstAnswerRace::Clear() {
  requests_.clear();
  ended_ = 0;
  winner_ = -1;
}

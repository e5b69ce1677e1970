#include "base/stage_probe.h"

#include <atomic>

namespace tabulon {
namespace {

std::atomic<StageProbe> probeSet{nullptr};

}  // namespace

void setStageProbe(StageProbe probe) { probeSet.store(probe, std::memory_order_release); }

void stageEnded(const char* stage) {
  if (StageProbe probe = probeSet.load(std::memory_order_acquire)) probe(stage);
}

}  // namespace tabulon

// Marks between the stages of one sheet read (the rows streamed and read,
// then joined, then written out), for a benchmark that counts what each
// stage costs. Nothing is told unless a probe is set: a mark is one atomic
// load then.
#pragma once

namespace tabulon {

// Called on the reading thread as the named stage of a read ends; stage
// is a constant text. Reads run at once may call it at once.
using StageProbe = void (*)(const char* stage);

// Sets the probe told of every stage (nullptr: none).
void setStageProbe(StageProbe probe);

// Tells the probe, if one is set, that stage has ended.
void stageEnded(const char* stage);

}  // namespace tabulon

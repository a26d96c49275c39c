#pragma once

namespace vellumbrook {

// What a stage tells the run driver: go on with the next stage, or end the run with exit
// status 1 (the stage has already written its message).
enum class Flow { proceed, fail };

}  // namespace vellumbrook

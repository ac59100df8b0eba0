#pragma once

#include <Poco/Timer.h>

namespace quorvane {

struct SystemSnapshot;

// The refresh timer's target.
class UpdateTimerCallback {
  public:
    void onTimer(Poco::Timer& timer);

    SystemSnapshot* snapshot = nullptr;  // not owned
};

}  // namespace quorvane

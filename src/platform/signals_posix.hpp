#pragma once

#include <sys/types.h>

namespace quarn::platform {

// The process group of the running job, to which the stop signals are passed on; 0 for none.
void setJobGroup(pid_t group);

}  // namespace quarn::platform

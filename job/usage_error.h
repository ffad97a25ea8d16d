// A job that cannot be done as described: a value out of range, a field unknown, outputs that
// clash. Nothing has been done when it is raised; the C interface turns it into the job's message.
#pragma once

#include <stdexcept>

namespace zav::job {

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace zav::job

// A job that cannot be done as described: a value out of range, a field unknown, outputs that
// clash. Nothing has been done when it is raised; the C interface turns it into the job's message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "zavimage/job.h"

namespace zav::job {

class UsageError : public std::runtime_error {
  public:
    explicit UsageError(const std::string &message, int32_t kind = ZAV_REFUSED_VALUE)
        : std::runtime_error(message), m_kind(kind) {}
    int32_t Kind() const { return m_kind; }

  private:
    int32_t m_kind;
};

}  // namespace zav::job

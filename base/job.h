#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace korvanel {

// Base of any payload a job hands to its receiver. The job owns it, so a job
// that is dropped unrun (pool shut down, pending jobs cleared) frees it too.
class JobPayload {
public:
    virtual ~JobPayload() = default;
};

// One unit of work for a JobPool: a command or event code and three numeric
// arguments whose meaning the owner of the pool defines. Owned data travels
// by value in `text` or `payload`, never as a raw pointer in an argument.
struct Job {
    std::uint32_t code = 0;
    std::int64_t arg1 = 0;
    std::int64_t arg2 = 0;
    std::int64_t arg3 = 0;
    std::string text;
    std::unique_ptr<JobPayload> payload;

    // The payload as T, or nullptr when there is none or it is another type.
    template <class T>
    T* payloadAs() const {
        return dynamic_cast<T*>(payload.get());
    }
};

// A job with a code and, optionally, a text.
inline Job makeJob(std::uint32_t code, std::string text = {}) {
    Job job;
    job.code = code;
    job.text = std::move(text);
    return job;
}

}  // namespace korvanel

// A uio device node opened and mapped: the memory a kernel driver shares
// with user space, and the descriptor that counts its interrupts. Writing to
// the descriptor is how TCMU user space tells the kernel to look at the ring.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "base/unique_fd.h"

namespace halvorin::sim {

class UioDevice {
  public:
    // Throws std::runtime_error saying why the node cannot be opened or mapped.
    UioDevice(const std::filesystem::path& node, size_t map_size);
    ~UioDevice();
    UioDevice(const UioDevice&) = delete;
    UioDevice& operator=(const UioDevice&) = delete;

    // Readable (poll) when an interrupt came since the last Acknowledge.
    int fd() const { return fd_.get(); }
    std::span<uint8_t> memory() const { return {map_, size_}; }
    void Acknowledge();
    void Notify();

  private:
    UniqueFd fd_;
    uint8_t* map_ = nullptr;
    size_t size_ = 0;
};

}  // namespace halvorin::sim

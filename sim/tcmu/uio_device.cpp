#include "sim/tcmu/uio_device.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace halvorin::sim {

UioDevice::UioDevice(const std::filesystem::path& node, size_t map_size)
    // Not blocking: an Acknowledge with no interrupt pending must not wait
    // for the next one.
    : fd_(::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)), size_(map_size) {
    if (!fd_.valid()) throw std::runtime_error(node.string() + ": " + std::strerror(errno));
    void* map = ::mmap(nullptr, map_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0);
    if (map == MAP_FAILED)
        throw std::runtime_error("cannot map " + node.string() + ": " + std::strerror(errno));
    map_ = static_cast<uint8_t*>(map);
}

UioDevice::~UioDevice() {
    ::munmap(map_, size_);
}

void UioDevice::Acknowledge() {
    uint32_t interrupts = 0;
    (void)!::read(fd_.get(), &interrupts, sizeof interrupts);
}

void UioDevice::Notify() {
    const uint32_t one = 1;
    (void)!::write(fd_.get(), &one, sizeof one);
}

}  // namespace halvorin::sim

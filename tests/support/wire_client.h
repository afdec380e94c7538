// A manager's end of the wire, spoken by hand over a real TCP socket, so tests
// can send exactly the bytes they mean (well-formed or not).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "base/utf16.h"
#include "net/protocol/wire_format.h"

namespace halvorin::test {

class WireClient {
  public:
    explicit WireClient(uint16_t port) : WireClient("127.0.0.1", port) {}

    // To a numeric IPv4 or IPv6 address; `from` binds the source address
    // (any 127.x.y.z is this host's, so a test can come from "elsewhere").
    WireClient(const std::string& to, uint16_t port, const std::string& from = "") {
        sockaddr_storage address = Numeric(to, port);
        fd_.reset(::socket(address.ss_family, SOCK_STREAM, 0));
        if (!from.empty()) {
            sockaddr_storage source = Numeric(from, 0);
            if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&source), Length(source)) != 0)
                return;
        }
        connected_ =
            ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&address), Length(address)) == 0;
        const int on = 1;
        ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }

    bool connected() const { return connected_; }

    bool SendBytes(const std::vector<uint8_t>& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(fd_.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    bool Send(uint8_t type, uint32_t tag, const std::vector<uint8_t>& payload = {}) {
        MSG_HDR header;
        header.tag = tag;
        header.type = type;
        header.request = 1;
        return SendBytes(BuildMessage(header, payload));
    }

    bool SendHello(const std::u16string& name, uint32_t tag = 1) {
        auto hello = EncodeHello(HELLO_INFO{1, name});
        return Send(MSG_HELLO, tag, std::vector<uint8_t>(hello.begin(), hello.end()));
    }

    bool SendScsiIn(const SES_ADDR& address, std::vector<uint8_t> cdb, uint32_t tag,
                    uint32_t allocation = kMaxDataIn, uint32_t timeout_s = 30) {
        SCSI_REQ req;
        req.address = address;
        std::copy(cdb.begin(), cdb.end(), req.cdb.begin());
        req.transfer_length = allocation;
        req.timeout_s = timeout_s;
        auto bytes = EncodeScsiReq(req);
        return Send(MSG_SCSI_IN, tag, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }

    struct Reply {
        MSG_HDR header;
        std::vector<uint8_t> payload;
    };

    // The next whole message, or nothing when none arrives in time or the
    // connection closes.
    std::optional<Reply> Receive(std::chrono::milliseconds wait = std::chrono::seconds(5)) {
        std::vector<uint8_t> header_bytes;
        if (!ReadExactly(kHeaderSize, header_bytes, wait)) return std::nullopt;
        Reply reply;
        reply.header =
            DecodeHeader(std::span<const uint8_t, kHeaderSize>(header_bytes.data(), kHeaderSize));
        if (!ReadExactly(reply.header.length, reply.payload, wait)) return std::nullopt;
        return reply;
    }

    // True when the agent closed (or shut down) the connection within the wait.
    int fd() const { return fd_.get(); }

    bool ClosedWithin(std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd in{fd_.get(), POLLIN, 0};
            if (::poll(&in, 1, 20) > 0) {
                uint8_t byte;
                ssize_t n = ::recv(fd_.get(), &byte, 1, 0);
                if (n <= 0) return true;
                pending_.push_back(byte);
            }
        }
        return false;
    }

    void Close() { fd_.reset(); }

  private:
    static sockaddr_storage Numeric(const std::string& text, uint16_t port) {
        sockaddr_storage storage{};
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(port);
            return storage;
        }
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        return storage;
    }
    static socklen_t Length(const sockaddr_storage& a) {
        return a.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    }

    bool ReadExactly(size_t count, std::vector<uint8_t>& out, std::chrono::milliseconds wait) {
        out.clear();
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (out.size() < count && !pending_.empty()) {
            out.push_back(pending_.front());
            pending_.erase(pending_.begin());
        }
        while (out.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd in{fd_.get(), POLLIN, 0};
            if (::poll(&in, 1, static_cast<int>(left.count())) <= 0) return false;
            std::vector<uint8_t> chunk(count - out.size());
            ssize_t n = ::recv(fd_.get(), chunk.data(), chunk.size(), 0);
            if (n <= 0) return false;
            out.insert(out.end(), chunk.begin(), chunk.begin() + n);
        }
        return true;
    }

    UniqueFd fd_;
    bool connected_ = false;
    std::vector<uint8_t> pending_;
};

}  // namespace halvorin::test

#pragma once

// Reference client: the tool's packets for four transfer commands with nothing else around
// them (no Qt, no log), so the benchmark can show what the tool adds on top of the protocol.

#include <cstddef>
#include <cstdint>
#include <string>

namespace RefClient {

constexpr size_t kMaxPacket = 1024;  // device packets are at most this long

// One carrier. Every operation either succeeds or ends the process through fail().
class Link {
public:
    virtual ~Link() = default;
    // Sends one host packet.
    virtual void send(const uint8_t* payload, size_t length) = 0;
    // Reads the device's acknowledgement and returns its status byte.
    virtual uint8_t readAck() = 0;
    // Reads one device packet of at most kMaxPacket payload bytes, answers it, returns its length.
    virtual size_t readPacket(uint8_t* payload) = 0;
};

[[noreturn]] void fail(const std::string& message);

// Ends the process with status 2 and the usage unless argv holds a known command with the
// right number of words.
void checkUsage(int argc, char** argv);

// Runs one command given as its words, for example {"write-memory", "0", "20000000", "a.bin"}.
void runCommand(Link& link, int argc, char** argv);

// Usage of the command words, shared by both clients' help texts.
extern const char* const kCommandUsage;

}  // namespace RefClient

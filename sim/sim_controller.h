#pragma once
// The virtual controller's firmware: command framing, the command interpreter and the reply
// writer. No I/O and no threads; the server (sim_server.h) moves the bytes.
//
// Framing of what the panel sends:
//   - a text command ends with a carriage return; a line feed alone also ends one, and the
//     line feed of a CR LF pair is skipped, so CR, LF and CR LF all work;
//   - a line holds at most kMaxLineLength characters: a longer one is answered with an
//     error and not run (its first kMaxLineLength characters are kept for the transcript);
//   - where a command may start, the bytes FE FE open the 38-byte brightness packet
//     (FE FE 1B 00 20, sixteen big-endian values, FD); its bytes are taken by count, so CR and
//     LF inside it are data. An FE not followed by a second FE is an ordinary character.
//
// Answers are lines ended by CR LF. With echo on (the default; "echo 0" and "echo 1" switch
// it), each received text line is first sent back as received, then the answer follows.
// The packet is never echoed. Query answers start with the query's reply word (or the
// information heads "modulename", "ID:", "S/N:", "f/w_version", "fpga_version", "build");
// other commands are acknowledged by a line that starts with their own word followed by the
// values they took effect with; an unknown word or a bad argument gets a line starting with
// "error". Numbers are written without regard to any locale.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim_state.h"

namespace sim {

constexpr int kPacketLength = 38;
constexpr unsigned char kPacketStart = 0xFE;
constexpr unsigned char kPacketEnd = 0xFD;
constexpr std::size_t kMaxLineLength = 255;

class Controller {
public:
    explicit Controller(const Identity& identity);

    // One unit of received input: a text line (possibly empty) or a packet.
    struct Received {
        std::string transcript;  // the line without terminator, or the packet as hex bytes
        std::string answer;      // echo and reply lines, each ended by CR LF; may be empty
        bool isCommand = false;  // false for a blank line
    };

    // Frames the bytes and runs every command they complete, appending one entry per
    // command in order of arrival. Bytes of an unfinished command are kept for the next call.
    void Feed(const unsigned char* data, std::size_t size, std::vector<Received>& out);

    // Whether Feed keeps bytes of a command that has not ended yet.
    bool HasUnfinished() const { return !line_.empty() || lineTooLong_ || packetPos_ > 0; }
    // Forgets those bytes, unrun and untold: the next byte starts a new command.
    void DropUnfinished();

    // Runs one text command (without terminator) and returns its reply lines, no echo.
    std::string Execute(std::string_view line);
    // Commands whose keyword is word are refused ("error refused <word>") and change nothing.
    void Refuse(std::string word) { refused_ = std::move(word); }
    // Runs one 38-byte brightness packet and returns its reply line.
    std::string ExecutePacket(const unsigned char* packet);

    // An unasked "getswitch" line with the next switch pattern; the state follows it.
    std::string NextSwitchLine();

    const State& state() const { return state_; }
    State& state() { return state_; }

private:
    std::string refused_;
    struct Args;
    class Reply;
    using Handler = bool (Controller::*)(const Args&, Reply&);
    struct Entry {
        std::string_view word;
        int argCount;  // or kNoneOrOne
        Handler run;
    };
    static const Entry kEntries[];

    void EndLine(std::vector<Received>& out);
    void EndPacket(std::vector<Received>& out);

    bool SetTrigChannel(const Args&, Reply&);
    bool GetTrigChannel(const Args&, Reply&);
    bool GetSwitch(const Args&, Reply&);
    bool GetManBright(const Args&, Reply&);
    bool Acknowledge(const Args&, Reply&);
    bool GetModuleInfo(const Args&, Reply&);
    bool GetBuildInfo(const Args&, Reply&);
    bool SetModelCh(const Args&, Reply&);
    bool GetModelCh(const Args&, Reply&);
    bool GetVersionInfo(const Args&, Reply&);
    bool GetFwVersionInfo(const Args&, Reply&);
    bool GetFpgaVersionInfo(const Args&, Reply&);
    bool SetBrightness(const Args&, Reply&);
    bool GetBrightness(const Args&, Reply&);
    bool SetOn(const Args&, Reply&);
    bool GetOn(const Args&, Reply&);
    bool SetOnEx(const Args&, Reply&);
    bool GetOnEx(const Args&, Reply&);
    bool SaveBright(const Args&, Reply&);
    bool LoadBright(const Args&, Reply&);
    bool FactoryReset(const Args&, Reply&);
    bool SetErrIgnore(const Args&, Reply&);
    bool GetErrStatus(const Args&, Reply&);
    bool SetTrigger(const Args&, Reply&);
    bool GetTrigger(const Args&, Reply&);
    bool SaveTrigger(const Args&, Reply&);
    bool LoadTrigger(const Args&, Reply&);
    bool SetBandwidth(const Args&, Reply&);
    bool GetBandwidth(const Args&, Reply&);
    bool SetBandwidthEx(const Args&, Reply&);
    bool GetBandwidthEx(const Args&, Reply&);
    bool GetBrightIndex(const Args&, Reply&);
    bool GetTrigIndex(const Args&, Reply&);
    bool SetTrigTest(const Args&, Reply&);
    bool FpgaRegSet(const Args&, Reply&);
    bool FpgaRegGet(const Args&, Reply&);
    bool SetSn(const Args&, Reply&);
    bool GetSn(const Args&, Reply&);
    bool SaveSn(const Args&, Reply&);
    bool SetModuleId(const Args&, Reply&);
    bool GetModuleId(const Args&, Reply&);
    bool SaveId(const Args&, Reply&);
    bool SetBuzzer(const Args&, Reply&);
    bool SetOutPort(const Args&, Reply&);
    bool SetOutPortAll(const Args&, Reply&);
    bool GetPortStatus(const Args&, Reply&);
    bool GetTotalOnOff(const Args&, Reply&);
    bool SetOffset(const Args&, Reply&);
    bool GetOffset(const Args&, Reply&);
    bool Echo(const Args&, Reply&);
    bool Help(const Args&, Reply&);

    bool RunFlag(const Args& a, Reply& r);

    // What "factoryreset" returns to: the command line's values, with the serial number and
    // module ID that "savesn" and "saveid" stored in their place.
    Identity identity_;
    State state_;

    std::string line_;
    bool lineTooLong_ = false;
    bool skipLineFeed_ = false;
    unsigned char packet_[kPacketLength] = {};
    int packetPos_ = 0;  // 0: no packet under way; 1: one FE seen; more: bytes taken
    unsigned switchStep_ = 0;
};

}  // namespace sim

#pragma once
// C++ controls of the project's network SDK beyond the C operations of
// sdk/NetSdk.h: where discovery goes, and the figures of the last search.
// Tests, the command-line client and the benchmarks use these; the program
// itself only calls the C operations.

#include <cstdint>
#include <string>
#include <vector>

#include "Net.h"

namespace scoutrix::netsdk {

// Where search and set-without-login datagrams go, in order of precedence:
//  1. targets set here (tests, tools);
//  2. the environment variable SCOUTRIX_DISCOVERY ("host:port,host:port");
//  3. "targets=" in the [Discovery] group of netsdk.ini beside the program;
//  4. the broadcast address of every IPv4 interface that is up, port 39500.
// With SCOUTRIX_NETSDK_LOOPBACK_ONLY set (the test suites set it), every
// target outside 127.0.0.0/8 is dropped and the broadcast default is never
// used; a login to an address outside 127.0.0.0/8 is refused with -10001
// before any connection is tried.
void setDiscoveryTargets(const std::vector<net::Endpoint> &targets);
void clearDiscoveryTargets();

struct TargetChoice
{
    std::vector<net::Endpoint> targets;
    std::string source; // "explicit", "environment", "ini", "broadcast"
    bool broadcast = false;
    std::string error; // why there is no target, or a target that was refused
};
TargetChoice resolveDiscoveryTargets();

// A search listens at least answerWindowMs() after its last probe, and
// after that until no new answer has arrived for quietPeriodMs() (or until
// its timeout, whichever is first).
int quietPeriodMs(int timeoutMs);
int answerWindowMs(int timeoutMs);

// Time allowed for a whole login (connect, challenge, proof); 5000 ms unless
// changed here, through SCOUTRIX_LOGIN_TIMEOUT_MS or netsdk.ini [Session].
void setLoginTimeoutMs(int ms);
int loginTimeoutMs();

struct SearchStats
{
    int probesSent = 0;
    int answers = 0; // records placed in the buffer
    int repeats = 0; // byte-identical answers dropped
    int malformed = 0; // datagrams refused
    int foreign = 0; // well-formed datagrams of another search or type
    int elapsedMs = 0;
};
// Figures of the last search that finished in this process.
SearchStats lastSearchStats();

// Everything the SDK has tried to send since the process started: datagrams
// handed to the socket, TCP connections attempted.
struct TrafficCounters
{
    int datagramsSent = 0;
    int tcpConnects = 0;
};
TrafficCounters trafficCounters();

// Which protocol a device found by search speaks, by the MAC text of its
// search record. The program shows it beside the record's columns; a device
// no search has seen is taken to speak the project's own protocol.
enum class DeviceProtocol { Own, Onvif };
DeviceProtocol protocolOf(const std::string &macText);
const char *protocolName(DeviceProtocol protocol); // "own", "onvif"

// Credentials for ONVIF devices that are changed without a login (command
// 20 through NetSdk_SetConfigWithoutLogin): ONVIF has no unauthenticated
// set, so the SDK signs it with the last successful login to that device
// (by MAC text), else with these. The program passes the default login it
// shows in its search settings. Kept in memory only; an empty user clears.
void setDefaultCredentials(const std::string &user, const std::string &password);
void clearDefaultCredentials();

// Number of open sessions of both protocols (handles not yet logged out).
int openSessionCount();

// Why the last NetSdk_Upgrade on the calling thread answered 0: the
// device's refusal (a NETSDK_UPGRADE_ERR_* value, e.g. another upgrade is
// running) or an SDK code (-10001 file unreadable or over 2 GiB, -10002 bad
// handle, -10005 no answer). 0 after one that started.
int32_t lastUpgradeRefusal();
// Upgrades started and not yet past their final callback.
int runningUpgrades();

} // namespace scoutrix::netsdk

// CPU cost of the version-2 login (SPAKE2+ on P-256) on each side, and of
// sealing an encode table for the session. Prints figures; docs/benchmarks.md
// records them.
//   bench_pake [rounds]

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "Pake.h"
#include "SessionCrypto.h"

using namespace scoutrix::proto;
using namespace scoutrix::proto::pake;

namespace {

double threadCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void report(const char *what, std::vector<double> times, int failed)
{
    std::sort(times.begin(), times.end());
    std::printf("%-52s median %8.3f ms  worst %8.3f ms%s\n", what, times[times.size() / 2],
        times.back(), failed ? "  FAILED" : "");
}

// Median and worst of |rounds| runs of |step|, in thread CPU time.
void measure(const char *what, int rounds, const std::function<bool()> &step)
{
    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < rounds; ++i) {
        const double t = threadCpuMs();
        failed += !step();
        times.push_back(threadCpuMs() - t);
    }
    report(what, times, failed);
}

struct Exchange
{
    VerifierRecord record;
    ProverSecret secret;
    Point shareP {}, shareV {};
    Confirmation confirmP {}, confirmV {};
    SharedKey clientKey {}, deviceKey {};
};

Identities ids()
{
    const std::vector<uint8_t> hello = encode(Hello2 { "admin" });
    return Identities { loginContext(hello, hello), "admin", "" };
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const KdfParams defaults;
    std::printf("scrypt N=%u r=%u p=%u, %d rounds, thread CPU time\n", 1u << defaults.logN,
        defaults.r, defaults.p, rounds);

    Exchange x;
    if (registerPassword("739204", "admin", "", defaults, x.record) != Error::None) {
        std::fprintf(stderr, "bench_pake: registration failed\n");
        return 1;
    }
    measure("device: register a password (once per change)", rounds / 4 + 1, [&] {
        VerifierRecord r;
        return registerPassword("739204", "admin", "", defaults, r) == Error::None;
    });
    // One whole exchange per round, each side's steps timed on their own.
    std::vector<double> hash, curve, device;
    int failed = 0;
    for (int i = 0; i < rounds; ++i) {
        PakeClient c(ids());
        PakeDevice d(ids());
        double t = threadCpuMs();
        bool ok = deriveSecret("739204", "admin", "", x.record.salt, x.record.kdf, x.secret)
            == Error::None;
        hash.push_back(threadCpuMs() - t);
        t = threadCpuMs();
        ok = ok && c.start(x.secret, x.shareP) == Error::None;
        double clientMs = threadCpuMs() - t;
        t = threadCpuMs();
        ok = ok && d.respond(x.record, x.shareP, x.shareV, x.confirmV) == Error::None;
        double deviceMs = threadCpuMs() - t;
        t = threadCpuMs();
        ok = ok && c.finish(x.shareV, x.confirmV, x.confirmP, x.clientKey) == Error::None;
        clientMs += threadCpuMs() - t;
        t = threadCpuMs();
        ok = ok && d.finish(x.confirmP, x.deviceKey) == Error::None && x.clientKey == x.deviceKey;
        deviceMs += threadCpuMs() - t;
        curve.push_back(clientMs);
        device.push_back(deviceMs);
        failed += !ok;
    }
    std::vector<double> clientTotal;
    for (std::size_t i = 0; i < hash.size(); ++i)
        clientTotal.push_back(hash[i] + curve[i]);
    report("client: password hash (scrypt)", hash, failed);
    report("client: curve work and key schedule", curve, failed);
    report("client: whole exchange", clientTotal, failed);
    report("device: whole exchange (holds the verifier)", device, failed);
    std::sort(clientTotal.begin(), clientTotal.end());
    std::printf("%-52s %8.1f ms on one core\n", "client CPU for a batch of 256 logins",
        256 * clientTotal[clientTotal.size() / 2]);

    session::SessionKeys keys;
    measure("both: session keys from the shared key", rounds,
        [&] { return session::deriveSessionKeys(x.clientKey, keys); });

    std::vector<uint8_t> record(25344, 0x5a), frame, plain;
    session::FrameSealer sealer(keys.deviceToClient);
    session::FrameOpener opener(keys.deviceToClient);
    measure("seal a 25344-byte record (AES-256-GCM)", rounds, [&] {
        return session::sealFrame(sealer, Type::GetConfigReply, 1, record, frame)
            == session::SealError::None;
    });
    // The opener has to see the frames in the sealer's order: seal them first.
    session::FrameSealer replay(keys.deviceToClient);
    std::vector<std::vector<uint8_t>> frames;
    frames.resize(std::size_t(rounds));
    for (auto &f : frames)
        session::sealFrame(replay, Type::GetConfigReply, 1, record, f);
    std::size_t next = 0;
    measure("open a 25344-byte record", rounds, [&] {
        const auto &f = frames[next++];
        return session::openFrame(opener, f.data(),
                   std::vector<uint8_t>(f.begin() + HeaderSize, f.end()), plain)
            == session::SealError::None
            && plain == record;
    });
    return 0;
}

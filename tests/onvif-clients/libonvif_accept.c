/* Debian's libonvif driving one emulated ONVIF camera, step by step, with the
 * library's own requests and its own parsing of the answers. The library finds
 * cameras only by multicast, so the probe here is its own Probe text sent
 * unicast to the emulator's discovery endpoint on loopback; the datagrams that
 * come back go through the library's ProbeMatch parsing (prepareOnvifData).
 *
 * usage: libonvif_accept DISCOVERY_IP:PORT DEVICE_IP NEW_IP USER PASSWORD
 * Prints one "ok" line per step; the first failing step prints "FAIL" and the
 * program exits 1. A watchdog ends it if the device stops answering
 * mid-request (the library's reads have no time-out of their own). */

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <onvif.h>

enum { kProbeWaitMs = 1500, kRebootWaitS = 40, kWatchdogS = 150, kFleetClockSkewS = 600 };

static const char *g_user;
static const char *g_password;

static void fail(const char *step, struct OnvifData *data, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    printf("FAIL %s: ", step);
    vprintf(fmt, ap);
    va_end(ap);
    if (data && data->last_error[0])
        printf(" (library: %s)", data->last_error);
    printf("\n");
    exit(1);
}

static void ok(const char *step, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    printf("ok %s: ", step);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
}

static void watchdog(int sig)
{
    (void)sig;
    static const char text[] = "FAIL watchdog: the device stopped answering mid-request\n";
    if (write(STDOUT_FILENO, text, sizeof text - 1) < 0) {
    }
    _exit(1);
}

static double nowSeconds(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static int parseEndpoint(const char *text, struct sockaddr_in *out)
{
    char host[64];
    const char *colon = strrchr(text, ':');
    if (!colon || (size_t)(colon - text) >= sizeof host)
        return 0;
    memcpy(host, text, (size_t)(colon - text));
    host[colon - text] = '\0';
    memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    out->sin_port = htons((unsigned short)atoi(colon + 1));
    if (inet_pton(AF_INET, host, &out->sin_addr) != 1)
        return 0;
    /* Never anywhere but loopback. */
    return (ntohl(out->sin_addr.s_addr) >> 24) == 127;
}

/* Sends the library's Probe to the discovery endpoint and keeps every answer
 * in the session, as the library's multicast search would. Returns how many. */
static int probe(const struct sockaddr_in *discovery, struct OnvifSession *session)
{
    char message[1024];
    getDiscoveryXml(message, sizeof message, session->uuid);
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0)
        return -1;
    struct sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    struct timeval tv = { 0, 200 * 1000 };
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (bind(s, (struct sockaddr *)&local, sizeof local) < 0
        || sendto(s, message, strlen(message), 0, (const struct sockaddr *)discovery,
               sizeof *discovery)
            < 0) {
        close(s);
        return -1;
    }
    int count = 0;
    const double until = nowSeconds() + kProbeWaitMs / 1000.0;
    while (nowSeconds() < until && count < 128) {
        const ssize_t n = recv(s, session->buf[count], sizeof session->buf[count] - 1, 0);
        if (n <= 0)
            continue;
        session->buf[count][n] = '\0';
        session->len[count] = (int)n;
        ++count;
    }
    close(s);
    return count;
}

/* Fills |data| from the answer whose service address is on |ip|; 0 if none. */
static int findDevice(
    struct OnvifSession *session, int answers, const char *ip, struct OnvifData *data)
{
    for (int i = 0; i < answers; ++i) {
        prepareOnvifData(i, session, data);
        char host[128];
        extractHost(data->xaddrs, host);
        if (strcmp(host, ip) == 0) {
            strcpy(data->username, g_user);
            strcpy(data->password, g_password);
            return 1;
        }
    }
    return 0;
}

static int anyAnswerOn(struct OnvifSession *session, int answers, const char *ip)
{
    struct OnvifData *scratch = calloc(1, sizeof *scratch);
    const int found = findDevice(session, answers, ip, scratch);
    free(scratch);
    return found;
}

static void readDevice(struct OnvifData *data)
{
    if (getTimeOffset(data) != 0)
        fail("GetSystemDateAndTime", data, "unauthenticated clock read refused");
    ok("GetSystemDateAndTime", "device clock %+ld s from ours, type %c, TZ '%s'",
        (long)data->time_offset, data->datetimetype ? data->datetimetype : '?', data->timezone);

    if (getCapabilities(data) != 0)
        fail("GetCapabilities", data, "refused");
    if (strstr(data->media_service, "POST /") != data->media_service)
        fail("GetCapabilities", data, "no media service address (got '%s')", data->media_service);
    ok("GetCapabilities", "media service %.*s", (int)strcspn(data->media_service, "\r"),
        data->media_service);

    /* A device that takes any password proves nothing about the digest. */
    struct OnvifData *stranger = malloc(sizeof *stranger);
    memcpy(stranger, data, sizeof *stranger);
    strcpy(stranger->password, "not-the-password");
    if (getDeviceInformation(stranger) == 0)
        fail("wrong password", NULL, "GetDeviceInformation answered a wrong password");
    ok("wrong password", "refused (%s)", stranger->last_error);
    free(stranger);

    if (getDeviceInformation(data) != 0)
        fail("GetDeviceInformation", data, "refused");
    if (!data->serial_number[0])
        fail("GetDeviceInformation", data, "no serial number");
    ok("GetDeviceInformation", "serial %s", data->serial_number);

    /* libonvif repeats its Nonce for a whole second and, on loopback, its
     * Created within a millisecond: the same request twice in a row is then a
     * true replay to the device. So the profiles are read sub first, main last,
     * never two GetProfiles back to back, and main is the one left current. */
    char tokens[2][128] = { "", "" };
    for (int index = 1; index >= 0; --index) {
        if (getProfileToken(data, index) != 0 || !data->profileToken[0])
            fail("GetProfiles", data, "no profile %d (main and sub expected)", index);
        strcpy(tokens[index], data->profileToken);
        if (getProfile(data) != 0 || !data->videoEncoderConfigurationToken[0])
            fail("GetProfile", data, "profile %s names no video encoder configuration",
                data->profileToken);
        if (getVideoEncoderConfiguration(data) != 0 || data->width <= 0 || data->height <= 0)
            fail("GetVideoEncoderConfiguration", data, "no resolution for %s",
                data->videoEncoderConfigurationToken);
        ok("GetProfile", "%s: encoder %s at %dx%d, %d fps", data->profileToken,
            data->videoEncoderConfigurationToken, data->width, data->height, data->frame_rate);
    }
    if (strcmp(tokens[0], tokens[1]) == 0)
        fail("GetProfiles", data, "both profiles are %s", tokens[0]);

    if (getStreamUri(data) != 0)
        fail("GetStreamUri", data, "refused");
    char host[128];
    extractHost(data->xaddrs, host);
    if (strncmp(data->stream_uri, "rtsp://", 7) != 0 || !strstr(data->stream_uri, host))
        fail("GetStreamUri", data, "'%s' is no rtsp address on %s", data->stream_uri, host);
    ok("GetStreamUri", "%s", data->stream_uri);
}

static void setClock(struct OnvifData *data)
{
    const time_t skew = data->time_offset;
    /* The fleet runs this device's clock ahead: a set that did nothing shows. */
    if (labs((long)skew - kFleetClockSkewS) > 5)
        fail("GetSystemDateAndTime", data, "device clock %+ld s from ours, the fleet says %+d s",
            (long)skew, kFleetClockSkewS);
    if (setSystemDateAndTime(data) != 0)
        fail("SetSystemDateAndTime", data, "refused");
    if (getTimeOffset(data) != 0)
        fail("SetSystemDateAndTime", data, "clock not readable after the set");
    if (labs((long)data->time_offset) > 2)
        fail("SetSystemDateAndTime", data, "device clock still %+ld s from ours (was %+ld s)",
            (long)data->time_offset, (long)skew);
    ok("SetSystemDateAndTime", "device clock %+ld s from ours, was %+ld s",
        (long)data->time_offset, (long)skew);
}

static void moveDevice(const struct sockaddr_in *discovery, struct OnvifSession *session,
    struct OnvifData *data, const char *oldIp, const char *newIp)
{
    if (getNetworkInterfaces(data) != 0)
        fail("GetNetworkInterfaces", data, "refused");
    if (strcmp(data->ip_address_buf, oldIp) != 0 || !data->networkInterfaceToken[0])
        fail("GetNetworkInterfaces", data, "no interface holds %s (address '%s', token '%s')",
            oldIp, data->ip_address_buf, data->networkInterfaceToken);
    ok("GetNetworkInterfaces", "%s holds %s/%d, DHCP %s", data->networkInterfaceToken,
        data->ip_address_buf, data->prefix_length, data->dhcp_enabled ? "on" : "off");

    char serial[128];
    strcpy(serial, data->serial_number);
    strcpy(data->ip_address_buf, newIp);
    data->dhcp_enabled = false;
    if (setNetworkInterfaces(data) != 0)
        fail("SetNetworkInterfaces", data, "refused");
    ok("SetNetworkInterfaces", "%s asked to move to %s", oldIp, newIp);

    /* The device takes its new address after answering; a search shows where it went. */
    int answers = 0, atNew = 0;
    const double until = nowSeconds() + 10;
    while (!atNew && nowSeconds() < until) {
        answers = probe(discovery, session);
        atNew = answers > 0 && findDevice(session, answers, newIp, data);
    }
    if (!atNew)
        fail("search after SetNetworkInterfaces", NULL, "no answer from %s (%d answers)", newIp,
            answers);
    if (anyAnswerOn(session, answers, oldIp))
        fail("search after SetNetworkInterfaces", NULL, "%s still answers", oldIp);
    ok("search after SetNetworkInterfaces", "found at %s, gone from %s", data->xaddrs, oldIp);

    if (getTimeOffset(data) != 0 || getDeviceInformation(data) != 0)
        fail("GetDeviceInformation at the new address", data, "refused");
    if (strcmp(serial, data->serial_number) != 0)
        fail("GetDeviceInformation at the new address", data, "serial %s, expected %s",
            data->serial_number, serial);
    ok("GetDeviceInformation at the new address", "serial %s", data->serial_number);
}

static void reboot(struct OnvifData *data)
{
    if (rebootCamera(data) != 0)
        fail("SystemReboot", data, "refused");
    const double asked = nowSeconds();
    double wentAway = 0, cameBack = 0;
    while (!cameBack && nowSeconds() - asked < kRebootWaitS) {
        const int answered = getTimeOffset(data) == 0;
        if (!answered && !wentAway)
            wentAway = nowSeconds();
        else if (answered && wentAway)
            cameBack = nowSeconds();
        usleep(100 * 1000);
    }
    if (!wentAway)
        fail("SystemReboot", data, "the device never went away");
    if (!cameBack)
        fail("SystemReboot", data, "the device went away and did not come back within %d s",
            kRebootWaitS);
    if (getDeviceInformation(data) != 0)
        fail("SystemReboot", data, "logging in after the reboot refused");
    ok("SystemReboot", "away after %.1f s, back after %.1f s, serial %s", wentAway - asked,
        cameBack - asked, data->serial_number);
}

int main(int argc, char **argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: %s DISCOVERY_IP:PORT DEVICE_IP NEW_IP USER PASSWORD\n", argv[0]);
        return 2;
    }
    struct sockaddr_in discovery;
    if (!parseEndpoint(argv[1], &discovery)) {
        fprintf(stderr, "%s: the discovery endpoint must be a loopback IP:PORT\n", argv[0]);
        return 2;
    }
    const char *deviceIp = argv[2], *newIp = argv[3];
    g_user = argv[4];
    g_password = argv[5];
    setvbuf(stdout, NULL, _IOLBF, 0);
    signal(SIGALRM, watchdog);
    alarm(kWatchdogS);

    /* The session holds 128 datagrams of 8 KiB: too big for the stack. */
    struct OnvifSession *session = calloc(1, sizeof *session);
    struct OnvifData *data = calloc(1, sizeof *data);
    if (!session || !data)
        return 1;
    initializeSession(session);

    const int answers = probe(&discovery, session);
    if (answers <= 0 || !findDevice(session, answers, deviceIp, data))
        fail("probe", NULL, "no ProbeMatch with an address on %s (%d answers)", deviceIp, answers);
    ok("probe", "%s at %s", data->camera_name, data->xaddrs);

    readDevice(data);
    setClock(data);
    moveDevice(&discovery, session, data, deviceIp, newIp);
    reboot(data);

    closeSession(session);
    free(data);
    free(session);
    printf("libonvif accepted the device\n");
    return 0;
}

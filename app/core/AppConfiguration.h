#pragma once
// AppConfiguration: the hosts the application talks to, read from "AppConfiguration.plist" among
// the resources and overridable by environment variables (which win):
//
//     key            variable               example
//     ServiceURL     LIVEAPP_SERVICE_URL    http://127.0.0.1:8080   the service's web host (HTTP API)
//     RTMPHost       LIVEAPP_RTMP_HOST      127.0.0.1:1935          the RTMP ingest host
//     ProbeHost1     LIVEAPP_PROBE_HOST_1   probe.example.net       the network monitor's first probe
//     ProbeHost2     LIVEAPP_PROBE_HOST_2   probe2.example.net      its second probe
//
// The shipped file names no probe hosts (see AppNetworkMonitoring for what is probed then).
//
// Values are read at every call (tests change the environment or the resources between calls).
// A service URL without a scheme gets "http://"; trailing slashes are dropped, so callers append
// paths ("/api/v1") directly. A value missing from both places is empty. Thread-safe.

#include <string>

class AppConfiguration {
public:
    static std::string serviceURL();
    static std::string rtmpHost();
    static std::string probeHost1();
    static std::string probeHost2();

    static constexpr const char* kServiceURLVariable = "LIVEAPP_SERVICE_URL";
    static constexpr const char* kRTMPHostVariable = "LIVEAPP_RTMP_HOST";
    static constexpr const char* kProbeHost1Variable = "LIVEAPP_PROBE_HOST_1";
    static constexpr const char* kProbeHost2Variable = "LIVEAPP_PROBE_HOST_2";
};

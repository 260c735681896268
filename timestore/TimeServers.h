#pragma once

// Public IPv4 time servers that answer a plain SNTP request on UDP 123. Each exchange asks all
// of them in this order. tools/time-servers.sh reads this list for the private test network.
// BEGIN BUILT-IN TIME SERVERS
inline constexpr const char* kBuiltInTimeServers[] = {
    "216.239.35.0",   // time1.google.com
    "216.239.35.4",   // time2.google.com
    "216.239.35.8",   // time3.google.com
    "216.239.35.12",  // time4.google.com
    "162.159.200.1",  // time.cloudflare.com
    "162.159.200.123",// time.cloudflare.com
    "129.6.15.28",    // time-a-g.nist.gov
    "129.6.15.29",    // time-b-g.nist.gov
    "129.6.15.30",    // time-c-g.nist.gov
    "129.6.15.27",    // time-d-g.nist.gov
};
// END BUILT-IN TIME SERVERS

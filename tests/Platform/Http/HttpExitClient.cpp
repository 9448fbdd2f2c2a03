// Ends the process while HTTP transfers are still being started: it must end cleanly whatever the transfer
// thread is doing at that moment. One request to URL (trusting CA_FILE for its origin) is waited for, so
// that every part of the client made on first use exists; then COUNT more are queued and main returns.
//
//   http_exit_client URL CA_FILE COUNT
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "Platform/Http/HttpClient.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: http_exit_client URL CA_FILE COUNT\n");
        return 2;
    }
    const std::string url = argv[1];
    platform::HttpClient::Options options;
    options.extraCaFile = argv[2];
    options.extraCaOrigins = {url};
    platform::HttpClient client(options);
    platform::HttpRequestMessage request;
    request.url = url;
    try {
        client.SendRequestAsync(request).Get();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "http_exit_client: the first request failed: %s\n", e.what());
        return 1;
    }
    for (int i = std::atoi(argv[3]); i > 0; --i) auto queued = client.SendRequestAsync(request);
    return 0;
}

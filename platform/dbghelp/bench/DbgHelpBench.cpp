// dbghelp_bench.exe: load times of the symbol library on the generated
// samples, from a local store and from an HTTP store, and the download
// throughput of its HTTP client against a plain Winsock GET of the same file.
// The HTTP figures need a running store server (bench/run-bench.sh starts
// one): QX3_BENCH_HTTP_PORT names its port, QX3_BENCH_HTTP_FILE the URL path
// of a large file it serves, QX3_BENCH_MUTE_PORT optionally a mute server.
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "DbgHelpLibrary.h"
#include "HttpClient.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

namespace
{
const char* const kImages[] = {"rsds.exe", "nb10.dll", "dbgcv.dll", "dbgpdb.dll"};
const int kRounds = 20;
const int kThroughputRounds = 5;

double Mean(const std::vector<double>& values)
{
    double sum = 0;
    for (double value : values)
        sum += value;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

std::string Environment(const char* name)
{
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

std::string Samples()
{
    std::string path = "Z:" QX3_SAMPLES_UNIX;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

void PrintTimes(const char* what, const char* image, const std::vector<double>& times)
{
    printf("%-34s %-11s median %8.3f ms  mean %8.3f ms  (%u loads)\n", what, image, Median(times), Mean(times),
           static_cast<unsigned>(times.size()));
}

class CBench
{
public:
    explicit CBench(CDbgHelpLibrary& library) : m_lib(library)
    {
        m_lib.SetOptions(SYMOPT_EXACT_SYMBOLS);
        m_lib.Initialize(GetCurrentProcess(), nullptr, FALSE);
    }
    ~CBench() { m_lib.Cleanup(GetCurrentProcess()); }
    CBench(const CBench&) = delete;
    CBench& operator=(const CBench&) = delete;

    // One load and unload; the time in ms, negative when no symbols were found.
    double Load(const std::string& image, const std::string& path)
    {
        m_lib.SetSearchPath(GetCurrentProcess(), path.c_str());
        const double start = NowMs();
        const DWORD64 base = m_lib.LoadModule64(GetCurrentProcess(), nullptr, image.c_str(), nullptr, 0, 0);
        IMAGEHLP_MODULE64 module = {};
        module.SizeOfStruct = sizeof(module);
        const bool found = base != 0 && m_lib.GetModuleInfo64(GetCurrentProcess(), base, &module)
                           && module.SymType != SymNone;
        const double elapsed = NowMs() - start;
        if (base != 0)
            m_lib.UnloadModule64(GetCurrentProcess(), base);
        return found ? elapsed : -1;
    }

    // First loads (each into a fresh downstream store) and later loads (from
    // the filled one) of every sample through the store at upstream.
    bool StoreFigures(const char* label, const std::string& upstream)
    {
        bool ok = true;
        for (const char* name : kImages)
        {
            const std::string image = Samples() + "\\images\\" + name;
            std::vector<double> first;
            std::vector<double> later;
            for (int round = 0; round < kRounds; ++round)
            {
                CTempDir downstream;
                const std::string path = "srv*" + downstream.Path() + "*" + upstream;
                const double time = Load(image, path);
                ok = ok && time >= 0;
                first.push_back(time);
                if (round == 0)
                {
                    for (int load = 0; load < kRounds; ++load)
                        later.push_back(Load(image, path));
                }
            }
            for (double time : later)
                ok = ok && time >= 0;
            PrintTimes((std::string(label) + ", first load:").c_str(), name, first);
            PrintTimes((std::string(label) + ", later loads:").c_str(), name, later);
        }
        return ok;
    }

private:
    CDbgHelpLibrary& m_lib;
};

class CBenchSocket
{
public:
    explicit CBenchSocket(SOCKET socket) : m_socket(socket) {}
    ~CBenchSocket()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
    }
    CBenchSocket(const CBenchSocket&) = delete;
    CBenchSocket& operator=(const CBenchSocket&) = delete;
    SOCKET Get() const { return m_socket; }

private:
    SOCKET m_socket;
};

// A plain HTTP/1.0 GET of url's path from 127.0.0.1:port into a file: the
// reference the library's HTTP client is measured against. Returns the bytes
// received after the head, or 0 on failure.
unsigned long long PlainGet(unsigned port, const std::string& path, const std::string& target)
{
    CBenchSocket owner(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const SOCKET raw = owner.Get();
    if (raw == INVALID_SOCKET)
        return 0;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(raw, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        return 0;
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(raw, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size()))
        return 0;
    CScopedHandle file(CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!file.IsValid())
        return 0;
    std::vector<char> buffer(64 * 1024);
    std::string head;
    bool inBody = false;
    unsigned long long body = 0;
    for (;;)
    {
        const int received = recv(raw, buffer.data(), static_cast<int>(buffer.size()), 0);
        if (received <= 0)
            break;
        const char* data = buffer.data();
        size_t length = static_cast<size_t>(received);
        if (!inBody)
        {
            head.append(data, length);
            const size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            inBody = true;
            const std::string rest = head.substr(end + 4);
            DWORD written = 0;
            WriteFile(file.Get(), rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr);
            body += rest.size();
            continue;
        }
        DWORD written = 0;
        WriteFile(file.Get(), data, static_cast<DWORD>(length), &written, nullptr);
        body += length;
    }
    return body;
}

void ThroughputFigures(unsigned port, const std::string& path)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
    {
        printf("throughput: no Winsock\n");
        return;
    }
    CTempDir work;
    CHttpClient client;
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
    std::vector<double> plainRates;
    std::vector<double> clientRates;
    unsigned long long size = 0;
    for (int round = 0; round < kThroughputRounds; ++round)
    {
        double start = NowMs();
        const unsigned long long plainBytes = PlainGet(port, path, work.File("plain.bin"));
        const double plainMs = NowMs() - start;
        unsigned long long clientBytes = 0;
        start = NowMs();
        const HttpResult result = client.Download(url, work.File("client.bin"), nullptr, &clientBytes);
        const double clientMs = NowMs() - start;
        if (plainBytes == 0 || result != HttpResult::Ok || plainBytes != clientBytes)
        {
            printf("throughput: download of %s failed\n", url.c_str());
            WSACleanup();
            return;
        }
        size = plainBytes;
        plainRates.push_back(plainBytes / 1048576.0 / (plainMs / 1000.0));
        clientRates.push_back(clientBytes / 1048576.0 / (clientMs / 1000.0));
    }
    WSACleanup();
    printf("HTTP download of %llu bytes, plain Winsock GET:  median %8.1f MB/s (%d downloads)\n", size,
           Median(plainRates), kThroughputRounds);
    printf("HTTP download of %llu bytes, library client:     median %8.1f MB/s (%d downloads)\n", size,
           Median(clientRates), kThroughputRounds);
    printf("HTTP throughput ratio, library client / plain GET: %.2f\n", Median(clientRates) / Median(plainRates));
}

void MuteServerFigure(CBench& bench, unsigned mutePort, unsigned goodPort)
{
    CTempDir muteDown;
    CTempDir down;
    const std::string path = "srv*" + muteDown.Path() + "*http://127.0.0.1:" + std::to_string(mutePort) + ";srv*"
                             + down.Path() + "*http://127.0.0.1:" + std::to_string(goodPort) + "/store";
    int found = 0;
    const double start = NowMs();
    for (int load = 0; load < 50; ++load)
        found += bench.Load(Samples() + "\\images\\" + kImages[load % 4], path) >= 0 ? 1 : 0;
    printf("50 loads with a mute server first in the path: %.0f ms in total, %d found\n", NowMs() - start, found);
}
}

int main()
{
    CTempDir libraryDir;
    CDbgHelpLibrary library(libraryDir.Path());
    if (!library.IsReady())
    {
        printf("cannot load %s\n", library.Path().c_str());
        return 1;
    }
    int status = 0;
    CBench bench(library);
    printf("Symbol library load times per image, %d rounds each (SYMOPT_EXACT_SYMBOLS)\n", kRounds);
    if (!bench.StoreFigures("local store", Samples() + "\\store"))
    {
        printf("local store: some loads found no symbols\n");
        status = 1;
    }

    const unsigned port = static_cast<unsigned>(atoi(Environment("QX3_BENCH_HTTP_PORT").c_str()));
    if (port == 0)
    {
        printf("HTTP figures skipped: no server port in QX3_BENCH_HTTP_PORT (platform/dbghelp/bench/run-bench.sh "
               "starts a server and sets it)\n");
        return status;
    }
    if (!bench.StoreFigures("HTTP store", "http://127.0.0.1:" + std::to_string(port) + "/store"))
    {
        printf("HTTP store: some loads found no symbols\n");
        status = 1;
    }
    const std::string bigFile = Environment("QX3_BENCH_HTTP_FILE");
    if (!bigFile.empty())
        ThroughputFigures(port, bigFile);
    else
        printf("HTTP throughput skipped: no file named in QX3_BENCH_HTTP_FILE\n");
    const unsigned mutePort = static_cast<unsigned>(atoi(Environment("QX3_BENCH_MUTE_PORT").c_str()));
    if (mutePort != 0)
        MuteServerFigure(bench, mutePort, port);
    return status;
}

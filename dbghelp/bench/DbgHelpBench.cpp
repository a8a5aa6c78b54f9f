// dbghelp_bench.exe: load times of the symbol library on the generated
// samples, from a local store and from an HTTP store, and the download
// throughput of its HTTP client against a reference GET that writes the same
// file: a plain Winsock GET for HTTP, WinINet for HTTPS. The HTTP figures need
// running store servers (bench/run-bench.sh starts them): QX3_BENCH_HTTP_PORT
// names the HTTP one, QX3_BENCH_HTTPS_PORT the HTTPS one (for "localhost",
// its CA trusted in the prefix), QX3_BENCH_HTTP_FILES the URL paths of the
// large files both serve (comma-separated), QX3_BENCH_MUTE_PORT optionally a
// mute server.
#include <winsock2.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
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
const double kThroughputGoal = 0.8;

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
        const bool found =
            base != 0 && m_lib.GetModuleInfo64(GetCurrentProcess(), base, &module) && module.SymType != SymNone;
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

// Owns a WinINet handle.
using CInternetHandle = std::unique_ptr<void, BOOL(WINAPI*)(HINTERNET)>;

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
    CScopedHandle file(
        CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
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

// The platform's own client (WinINet) fetching url into a file: the
// reference for HTTPS, where a plain socket GET has no equivalent. Returns
// the bytes written, or 0 on failure.
unsigned long long WinInetGet(const std::string& url, const std::string& target)
{
    CInternetHandle session(InternetOpenA("Quillmar-Bench/1.0", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0),
                            InternetCloseHandle);
    if (session.get() == nullptr)
        return 0;
    CInternetHandle request(
        InternetOpenUrlA(session.get(), url.c_str(), nullptr, 0,
                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0),
        InternetCloseHandle);
    if (request.get() == nullptr)
        return 0;
    CScopedHandle file(
        CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return 0;
    std::vector<char> buffer(64 * 1024);
    unsigned long long body = 0;
    for (;;)
    {
        DWORD received = 0;
        if (!InternetReadFile(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &received))
            return 0;
        if (received == 0)
            return body;
        DWORD written = 0;
        WriteFile(file.Get(), buffer.data(), received, &written, nullptr);
        body += received;
    }
}

double Rate(unsigned long long bytes, double ms)
{
    return static_cast<double>(bytes) / 1048576.0 / (ms / 1000.0);
}

// The library's client against a reference GET that writes the same file,
// alternating, kThroughputRounds downloads each; prints both medians and
// their ratio.
void CompareThroughput(const char* scheme, const std::string& url, const char* referenceName,
                       const std::function<unsigned long long(const std::string& target)>& reference)
{
    CTempDir work;
    CHttpClient client;
    std::vector<double> referenceRates;
    std::vector<double> clientRates;
    unsigned long long size = 0;
    for (int round = 0; round < kThroughputRounds; ++round)
    {
        double start = NowMs();
        const unsigned long long referenceBytes = reference(work.File("reference.bin"));
        const double referenceMs = NowMs() - start;
        unsigned long long clientBytes = 0;
        start = NowMs();
        const HttpResult result = client.Download(url, work.File("client.bin"), nullptr, &clientBytes);
        const double clientMs = NowMs() - start;
        if (referenceBytes == 0 || result != HttpResult::Ok || referenceBytes != clientBytes)
        {
            printf("%s throughput: download of %s failed\n", scheme, url.c_str());
            return;
        }
        size = clientBytes;
        referenceRates.push_back(Rate(referenceBytes, referenceMs));
        clientRates.push_back(Rate(clientBytes, clientMs));
    }
    const double ratio = Median(clientRates) / Median(referenceRates);
    printf("%-5s %3llu MB: %-18s median %7.1f MB/s, library client %7.1f MB/s, ratio %.2f%s\n", scheme, size / 1048576,
           referenceName, Median(referenceRates), Median(clientRates), ratio,
           ratio < kThroughputGoal ? "  (below the goal)" : "");
}

void ThroughputFigures(unsigned httpPort, unsigned httpsPort, const std::vector<std::string>& files)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
    {
        printf("throughput: no Winsock\n");
        return;
    }
    printf("Download throughput, median of %d downloads each; the reference GET writes the same file "
           "(goal: library client at least %.1f of it)\n",
           kThroughputRounds, kThroughputGoal);
    for (const std::string& path : files)
    {
        CompareThroughput("HTTP", "http://127.0.0.1:" + std::to_string(httpPort) + path, "plain Winsock GET",
                          [&](const std::string& target) { return PlainGet(httpPort, path, target); });
    }
    if (httpsPort != 0)
    {
        for (const std::string& path : files)
        {
            const std::string url = "https://localhost:" + std::to_string(httpsPort) + path;
            CompareThroughput("HTTPS", url, "WinINet GET",
                              [&](const std::string& target) { return WinInetGet(url, target); });
        }
    }
    WSACleanup();
}

void MuteServerFigure(CBench& bench, unsigned mutePort, unsigned goodPort)
{
    CTempDir muteDown;
    CTempDir down;
    const std::string path = "srv*" + muteDown.Path() + "*http://127.0.0.1:" + std::to_string(mutePort) + ";srv*" +
                             down.Path() + "*http://127.0.0.1:" + std::to_string(goodPort) + "/store";
    int found = 0;
    const double start = NowMs();
    for (int load = 0; load < 50; ++load)
        found += bench.Load(Samples() + "\\images\\" + kImages[load % 4], path) >= 0 ? 1 : 0;
    printf("50 loads with a mute server first in the path: %.0f ms in total, %d found\n", NowMs() - start, found);
}
} // namespace

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
        printf("HTTP figures skipped: no server port in QX3_BENCH_HTTP_PORT (dbghelp/bench/run-bench.sh "
               "starts a server and sets it)\n");
        return status;
    }
    if (!bench.StoreFigures("HTTP store", "http://127.0.0.1:" + std::to_string(port) + "/store"))
    {
        printf("HTTP store: some loads found no symbols\n");
        status = 1;
    }
    std::vector<std::string> bigFiles;
    const std::string fileList = Environment("QX3_BENCH_HTTP_FILES");
    for (size_t start = 0; start < fileList.size();)
    {
        const size_t comma = std::min(fileList.find(',', start), fileList.size());
        bigFiles.push_back(fileList.substr(start, comma - start));
        start = comma + 1;
    }
    if (!bigFiles.empty())
        ThroughputFigures(port, static_cast<unsigned>(atoi(Environment("QX3_BENCH_HTTPS_PORT").c_str())), bigFiles);
    else
        printf("HTTP throughput skipped: no files named in QX3_BENCH_HTTP_FILES\n");
    const unsigned mutePort = static_cast<unsigned>(atoi(Environment("QX3_BENCH_MUTE_PORT").c_str()));
    if (mutePort != 0)
        MuteServerFigure(bench, mutePort, port);
    return status;
}

#include <winsock2.h>

#include "TlsChannel.h"

#include <cstdio>
#include <cstring>

#include "HttpText.h"
#include "ServerCertificate.h"
#include "TcpSocket.h"

namespace
{

// Room for several records of at most 16 KB plus their overhead, so that one
// receive may bring many of them.
constexpr size_t kIncomingSize = 96 * 1024;
// Handshake messages exchanged before giving up on a server that never ends one.
constexpr int kMaxHandshakeRounds = 32;

// Schannel checks nothing about the server's certificate on its own
// (MANUAL_CRED_VALIDATION): CServerCertificate does, after the handshake.
const ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                            ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                            ISC_REQ_MANUAL_CRED_VALIDATION;

// Owns a buffer that SSPI allocated.
class CContextBuffer
{
public:
    explicit CContextBuffer(void* buffer) : m_buffer(buffer) {}
    ~CContextBuffer()
    {
        if (m_buffer != nullptr)
            FreeContextBuffer(m_buffer);
    }
    CContextBuffer(const CContextBuffer&) = delete;
    CContextBuffer& operator=(const CContextBuffer&) = delete;

private:
    void* m_buffer;
};

SecBuffer Buffer(unsigned long type, void* data = nullptr, size_t size = 0)
{
    SecBuffer buffer;
    buffer.BufferType = type;
    buffer.pvBuffer = data;
    buffer.cbBuffer = static_cast<unsigned long>(size);
    return buffer;
}

} // namespace

CTlsChannel::CTlsChannel(CTcpSocket& socket) : m_socket(socket), m_incoming(kIncomingSize)
{
}

CTlsChannel::~CTlsChannel()
{
    if (m_hasContext)
        DeleteSecurityContext(&m_context);
    if (m_hasCredentials)
        FreeCredentialsHandle(&m_credentials);
}

std::string CTlsChannel::StatusText(SECURITY_STATUS status)
{
    const char* text = nullptr;
    switch (static_cast<unsigned long>(status))
    {
    case static_cast<unsigned long>(SEC_E_ILLEGAL_MESSAGE):
        text = "the server's answer is not TLS";
        break;
    case static_cast<unsigned long>(SEC_E_ALGORITHM_MISMATCH):
        text = "no protocol version or cipher in common";
        break;
    case static_cast<unsigned long>(SEC_E_MESSAGE_ALTERED):
        text = "a record was altered";
        break;
    case static_cast<unsigned long>(SEC_E_DECRYPT_FAILURE):
        text = "a record could not be decrypted";
        break;
    case static_cast<unsigned long>(SEC_E_UNSUPPORTED_FUNCTION):
        text = "a protocol step Schannel does not support";
        break;
    case static_cast<unsigned long>(SEC_E_INTERNAL_ERROR):
        text = "Schannel's internal error";
        break;
    default:
        break;
    }
    char code[16];
    snprintf(code, sizeof(code), "0x%08lx", static_cast<unsigned long>(status));
    return text != nullptr ? std::string(text) + ", " + code : std::string("error ") + code;
}

HttpIo CTlsChannel::Handshake(const std::string& host, std::string& why)
{
    m_host = host;
    SCHANNEL_CRED credentials = {};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    // No client certificate is offered, and Schannel leaves the server's
    // certificate to us.
    credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry;
    SECURITY_STATUS status =
        AcquireCredentialsHandleA(nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                  &credentials, nullptr, nullptr, &m_credentials, &expiry);
    if (status != SEC_E_OK)
    {
        why = "TLS is not available (" + StatusText(status) + ")";
        return HttpIo::Refused;
    }
    m_hasCredentials = true;
    const HttpIo io = Negotiate(why);
    if (io != HttpIo::Ok)
        return io;
    status = QueryContextAttributesA(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes);
    if (status != SEC_E_OK || m_sizes.cbMaximumMessage == 0)
    {
        why = "TLS record sizes unknown (" + StatusText(status) + ")";
        return HttpIo::Refused;
    }
    return HttpIo::Ok;
}

// An https URL that names a plain HTTP port: the server answers a greeting it
// cannot read with an error page and closes. Every TLS record starts with a
// content type from 20 to 24 and major version 3.
std::string CTlsChannel::NotTlsText() const
{
    if (m_incomingUsed < 2 || (m_incoming[0] >= 20 && m_incoming[0] <= 24 && m_incoming[1] == 3))
        return std::string();
    return "the server's answer is not TLS (it begins \"" +
           CHttpText::Printable(std::string(m_incoming.data(), m_incomingUsed < 24 ? m_incomingUsed : 24), 16) + "\")";
}

void CTlsChannel::KeepLast(size_t count)
{
    if (count > m_incomingUsed)
        count = m_incomingUsed;
    if (count > 0)
        memmove(&m_incoming[0], &m_incoming[m_incomingUsed - count], count);
    m_incomingUsed = count;
}

HttpIo CTlsChannel::ReadMore()
{
    // No record is larger than the buffer: a full one holds no whole record.
    if (m_incomingUsed == m_incoming.size())
        return HttpIo::TooLong;
    size_t got = 0;
    const HttpIo io = m_socket.Receive(&m_incoming[m_incomingUsed], m_incoming.size() - m_incomingUsed, got);
    if (io == HttpIo::Ok)
        m_incomingUsed += got;
    return io;
}

HttpIo CTlsChannel::Negotiate(std::string& why)
{
    for (int round = 0; round < kMaxHandshakeRounds; ++round)
    {
        const bool first = !m_hasContext;
        SecBuffer input[2] = {Buffer(SECBUFFER_TOKEN, m_incoming.data(), m_incomingUsed), Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc inputDesc = {SECBUFFER_VERSION, 2, input};
        SecBuffer output[1] = {Buffer(SECBUFFER_TOKEN)};
        SecBufferDesc outputDesc = {SECBUFFER_VERSION, 1, output};
        ULONG attributes = 0;
        const SECURITY_STATUS status = InitializeSecurityContextA(
            &m_credentials, first ? nullptr : &m_context, const_cast<SEC_CHAR*>(m_host.c_str()), kContextFlags, 0, 0,
            first ? nullptr : &inputDesc, 0, first ? &m_context : nullptr, &outputDesc, &attributes, nullptr);
        CContextBuffer token(output[0].pvBuffer);
        if (first && status >= 0)
            m_hasContext = true;
        // The token is the next handshake message, or after a failure the
        // alert that tells the server why.
        if (output[0].pvBuffer != nullptr && output[0].cbBuffer > 0)
        {
            const HttpIo sent = m_socket.Send(static_cast<const char*>(output[0].pvBuffer), output[0].cbBuffer);
            if (sent != HttpIo::Ok && status >= 0)
                return sent;
        }

        HttpIo io = HttpIo::Ok;
        switch (status)
        {
        case SEC_E_OK:
            if (!first)
                KeepLast(input[1].BufferType == SECBUFFER_EXTRA ? input[1].cbBuffer : 0);
            return VerifyCertificate(why);
        case SEC_I_CONTINUE_NEEDED:
            if (!first)
                KeepLast(input[1].BufferType == SECBUFFER_EXTRA ? input[1].cbBuffer : 0);
            if (m_incomingUsed == 0)
                io = ReadMore();
            break;
        case SEC_E_INCOMPLETE_MESSAGE:
            io = ReadMore();
            break;
        case SEC_I_INCOMPLETE_CREDENTIALS:
            // The server asked for a client certificate: we go on without one.
            break;
        default:
            why = CertificateFaultText();
            if (why.empty())
                why = NotTlsText();
            if (why.empty())
                why = "TLS handshake failed (" + StatusText(status) + ")";
            return HttpIo::Refused;
        }
        if (io == HttpIo::Closed)
        {
            why = NotTlsText();
            if (why.empty())
                why = "the server closed the connection during the TLS handshake";
            return HttpIo::Refused;
        }
        if (io == HttpIo::TooLong)
        {
            why = "TLS handshake message too large";
            return HttpIo::Refused;
        }
        if (io != HttpIo::Ok)
            return io;
    }
    why = "TLS handshake did not finish after " + std::to_string(kMaxHandshakeRounds) + " messages";
    return HttpIo::Refused;
}

std::string CTlsChannel::CertificateFaultText()
{
    // Schannel gives up with an internal error when the key usage of the
    // server's certificate does not fit the key exchange; by then it holds
    // the certificate.
    PCCERT_CONTEXT remote = nullptr;
    if (!m_hasContext || QueryContextAttributesA(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK)
        return std::string();
    const CServerCertificate certificate(remote);
    const std::string reason = certificate.KeyUsageText();
    return reason.empty() ? reason : "certificate refused: " + reason;
}

HttpIo CTlsChannel::VerifyCertificate(std::string& why)
{
    PCCERT_CONTEXT remote = nullptr;
    const SECURITY_STATUS status = QueryContextAttributesA(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote);
    const CServerCertificate certificate(status == SEC_E_OK ? remote : nullptr);
    std::string reason;
    if (!certificate.Verify(m_host, reason))
    {
        why = "certificate refused: " + reason;
        return HttpIo::Refused;
    }
    return HttpIo::Ok;
}

HttpIo CTlsChannel::Send(const char* data, size_t size)
{
    std::vector<char> message;
    while (size > 0)
    {
        const size_t part = size < m_sizes.cbMaximumMessage ? size : m_sizes.cbMaximumMessage;
        message.resize(m_sizes.cbHeader + part + m_sizes.cbTrailer);
        memcpy(&message[m_sizes.cbHeader], data, part);
        SecBuffer buffers[4] = {Buffer(SECBUFFER_STREAM_HEADER, &message[0], m_sizes.cbHeader),
                                Buffer(SECBUFFER_DATA, &message[m_sizes.cbHeader], part),
                                Buffer(SECBUFFER_STREAM_TRAILER, &message[m_sizes.cbHeader + part], m_sizes.cbTrailer),
                                Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(&m_context, 0, &desc, 0);
        if (status != SEC_E_OK)
        {
            m_why = "a TLS record could not be encrypted (" + StatusText(status) + ")";
            return HttpIo::Refused;
        }
        const HttpIo io = m_socket.Send(&message[0], buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        if (io != HttpIo::Ok)
            return io;
        data += part;
        size -= part;
    }
    return HttpIo::Ok;
}

CTlsChannel::Decrypted CTlsChannel::DecryptRecord(char* buffer, size_t size, size_t& got)
{
    got = 0;
    SecBuffer buffers[4] = {Buffer(SECBUFFER_DATA, m_incoming.data(), m_incomingUsed), Buffer(SECBUFFER_EMPTY),
                            Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY)};
    SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&m_context, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return Decrypted::NeedMore;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
    {
        m_why = "a TLS record could not be decrypted (" + StatusText(status) + ")";
        return Decrypted::Failed;
    }
    const SecBuffer* data = nullptr;
    size_t extra = 0;
    for (const SecBuffer& part : buffers)
    {
        if (part.BufferType == SECBUFFER_DATA)
            data = &part;
        else if (part.BufferType == SECBUFFER_EXTRA)
            extra = part.cbBuffer;
    }
    // The record was decrypted in place: its bytes go out before the
    // undecrypted rest moves to the front.
    if (data != nullptr && data->pvBuffer != nullptr && data->cbBuffer > 0)
    {
        const char* plain = static_cast<const char*>(data->pvBuffer);
        const size_t count = data->cbBuffer;
        got = count < size ? count : size;
        memcpy(buffer, plain, got);
        if (got < count)
        {
            m_plain.assign(plain + got, plain + count);
            m_plainBegin = 0;
        }
    }
    KeepLast(extra);
    if (status == SEC_I_CONTEXT_EXPIRED)
        return Decrypted::Closed;
    if (status == SEC_I_RENEGOTIATE)
        return Decrypted::Renegotiate;
    return Decrypted::Data;
}

HttpIo CTlsChannel::Receive(char* buffer, size_t size, size_t& got)
{
    got = 0;
    if (m_plainBegin < m_plain.size())
    {
        got = m_plain.size() - m_plainBegin < size ? m_plain.size() - m_plainBegin : size;
        memcpy(buffer, &m_plain[m_plainBegin], got);
        m_plainBegin += got;
        if (m_plainBegin == m_plain.size())
        {
            m_plain.clear();
            m_plainBegin = 0;
        }
        return HttpIo::Ok;
    }
    while (got < size)
    {
        if (m_closeNotified)
            break;
        size_t part = 0;
        const Decrypted decrypted =
            m_incomingUsed > 0 ? DecryptRecord(buffer + got, size - got, part) : Decrypted::NeedMore;
        got += part;
        switch (decrypted)
        {
        case Decrypted::Data:
            if (m_plainBegin < m_plain.size())
                return HttpIo::Ok;
            break; // more whole records may be waiting
        case Decrypted::Closed:
            m_closeNotified = true;
            break;
        case Decrypted::Renegotiate:
        {
            const HttpIo io = Negotiate(m_why);
            if (io != HttpIo::Ok)
                return io;
            break;
        }
        case Decrypted::Failed:
            return HttpIo::Refused;
        case Decrypted::NeedMore:
        {
            if (got > 0)
                return HttpIo::Ok;
            const HttpIo io = ReadMore();
            if (io == HttpIo::Closed)
                return HttpIo::Truncated;
            if (io == HttpIo::TooLong)
            {
                m_why = "TLS record too large";
                return HttpIo::Refused;
            }
            if (io != HttpIo::Ok)
                return io;
            break;
        }
        }
    }
    if (got > 0)
        return HttpIo::Ok;
    return HttpIo::Closed;
}

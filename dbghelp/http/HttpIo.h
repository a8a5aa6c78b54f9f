#pragma once

// What one step on a connection came to.
//   Ok           the step is done
//   Closed       the server ended the connection (over TLS: with its close_notify)
//   Truncated    a TLS connection ended without its close_notify: what came last may be cut
//   TimedOut     a wait ran out
//   TooSlow      fewer bytes arrived than the low-speed limit asks for
//   Unreachable  the server's name did not resolve in time or its port refused the connection
//   Refused      the TLS handshake failed or the server's certificate was refused
//   Error        a local or protocol failure, with the reason where the step gives one
//   TooLong      a head or line longer than its limit
enum class HttpIo
{
    Ok,
    Closed,
    Truncated,
    TimedOut,
    TooSlow,
    Unreachable,
    Refused,
    Error,
    TooLong
};

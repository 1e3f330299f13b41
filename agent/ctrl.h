// Client of the station supplicant's control socket: a Unix datagram socket
// that answers each request datagram with one reply datagram and sends
// event datagrams beginning with '<' to attached clients.
#pragma once

#include <sys/un.h>

#include <cstddef>

struct ctrl_conn {
  int socket;
  sockaddr_un local;        // "/tmp/wpa_ctrl_<pid>-<counter>"
  sockaddr_un destination;  // the supplicant's control socket
};

// How long ctrl_request waits for each datagram.
inline constexpr int ctrl_reply_timeout_ms = 10000;

// Opens a connection to the control socket at ctrl_path. Both paths are
// system paths (placed through fx().host_path). Null on failure, leaving no
// local socket file behind.
ctrl_conn* ctrl_open(const char* ctrl_path);
// Removes the local socket file, closes the socket, frees the record. Null is
// ignored.
void ctrl_close(ctrl_conn* conn);
// Sends cmd and waits for its reply, skipping event messages. Returns 0 with
// the reply (not terminated) in reply and its length in *reply_len, -1 when
// sending fails, -2 when nothing arrived within timeout_ms, or the negative
// result of a failing wait or receive. The wait is one limit for the reply:
// event messages skipped meanwhile do not extend it.
int ctrl_request(ctrl_conn* conn, const char* cmd, size_t cmd_len, char* reply, size_t* reply_len,
                 int timeout_ms = ctrl_reply_timeout_ms);
// Register for / unregister from event messages: 0 when the supplicant
// answered exactly "OK\n", -1 for any other answer, or ctrl_request's failure.
int ctrl_attach(ctrl_conn* conn, int timeout_ms = ctrl_reply_timeout_ms);
int ctrl_detach(ctrl_conn* conn, int timeout_ms = ctrl_reply_timeout_ms);
// 1 when a message is waiting right now, else 0.
int ctrl_pending(ctrl_conn* conn);
// Receives one message; 0 with its length in *reply_len, or the negative
// receive result.
int ctrl_recv(ctrl_conn* conn, char* reply, size_t* reply_len);

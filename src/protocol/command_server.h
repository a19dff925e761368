// TCommandServer: the TCP front of the service. One listener thread per
// binding accepts connections; every accepted connection gets its own
// context and its own thread for its whole life. The thread greets the
// client, then reads lines and dispatches each to the first matching entry
// of the command table, and answers with a reply and an optional data block.
//
// Thread-safety: settings, the command table, the replies and the events are
// set while the server is inactive and only read while it is active, except
// the live settings (the connection limits, idle and read timeouts, line
// length, stop timeout and shutdown grace), which the controlling thread may
// change at any time; the timeouts and the line length then apply to
// connections accepted afterwards.
// Activate and Deactivate are called from one controlling thread. The list of
// live contexts is guarded by mutex_; ConnectionCount may be called from any
// thread. Events run on listener or connection threads.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "metrics/metric_types.h"
#include "protocol/command_handler.h"
#include "protocol/connection_context.h"
#include "protocol/ip_address.h"
#include "protocol/reply.h"
#include "protocol/socket.h"
#include "tls/tls_context.h"

namespace velquarn {

class TCommandServer {
 public:
  using TContextFactory = std::function<std::unique_ptr<TContext>()>;
  using TContextEvent = std::function<void(TContext& context)>;
  // context is null when the failure happened before a context existed.
  using TExceptionEvent = std::function<void(TContext* context, const std::exception& error)>;
  using TErrorEvent = std::function<void(const std::exception& error)>;
  // peer is empty when the kernel could not tell the peer's address.
  // common_name: the client certificate's, on a TLS binding; else empty.
  using TAcceptFilter =
      std::function<bool(const std::optional<TIpAddress>& peer, const std::string& common_name)>;

  static constexpr uint16_t kDefaultPort = 8888;
  static constexpr int kListenQueue = 1000;
  static constexpr int kMaxConnections = 2000;
  static constexpr int kReadTimeoutMs = 60000;
  static constexpr size_t kDefaultMaxLineLength = 64 * 1024 * 1024;
  static constexpr int kKeepAliveIdleMs = 10000;
  static constexpr int kKeepAliveIntervalMs = 1000;
  // Connection threads run third-party ODBC drivers, whose parsers may
  // recurse as deep as the client's SQL nests: they get a main thread's
  // stack. It is address space; only the pages a thread touches take memory.
  static constexpr size_t kConnectionStackSize = 8 * 1024 * 1024;
  // Below each stack, so that an overflow faults instead of running into
  // the neighbouring memory; larger than a page, because a frame with big
  // local buffers can step over a single guard page.
  static constexpr size_t kConnectionGuardSize = 64 * 1024;
  static constexpr int kDefaultStopTimeoutMs = 10000;
  // How long a balancer may take to send its PROXY header.
  static constexpr int kProxyHeaderTimeoutMs = 5000;
  // How long a client on a TLS binding may take for its handshake.
  static constexpr int kTlsHandshakeTimeoutMs = 10000;

  TCommandServer();
  TCommandServer(const TCommandServer&) = delete;
  TCommandServer& operator=(const TCommandServer&) = delete;
  // Deactivates the server if it is still active.
  ~TCommandServer();

  void SetDefaultPort(uint16_t port) { default_port_ = port; }
  uint16_t DefaultPort() const { return default_port_; }
  void ClearBindings() { bindings_.clear(); }
  void AddBinding(TBinding binding) { bindings_.push_back(std::move(binding)); }
  const std::vector<TBinding>& Bindings() const { return bindings_; }
  void SetListenQueue(int backlog) { listen_queue_ = backlog; }
  // 0 or less: no limit.
  void SetMaxConnections(int count);
  // Live connections from one peer host; 0 or less: no limit.
  void SetMaxConnectionsPerAddress(int count);
  // A connection that sends no line for this long is closed (OnIdleTimeout
  // first); 0 or less: never.
  void SetIdleTimeoutMs(int milliseconds) { idle_timeout_ms_ = milliseconds; }
  // How long Deactivate waits for connection threads after closing their
  // connections; negative: without limit.
  void SetStopTimeoutMs(int milliseconds) { stop_timeout_ms_ = milliseconds; }
  // How long Deactivate lets running commands finish before it closes their
  // connections (idle ones close at once, and no new command starts); 0 or
  // less: every connection closes at once.
  void SetShutdownGraceMs(int milliseconds) { shutdown_grace_ms_ = milliseconds; }
  void SetMaxLineLength(size_t bytes) { max_line_length_ = bytes; }
  size_t MaxLineLength() const { return max_line_length_; }
  // Negative: reads wait without limit.
  void SetReadTimeoutMs(int milliseconds) { read_timeout_ms_ = milliseconds; }

  TReply& Greeting() { return greeting_; }
  TReply& ExceptionReply() { return exception_reply_; }
  TReply& ReplyUnknownCommand() { return reply_unknown_command_; }
  TReply& HelpReply() { return help_reply_; }
  TReply& MaxConnectionReply() { return max_connection_reply_; }
  TReply& MaxAddressConnectionReply() { return max_address_connection_reply_; }
  // Sent to a peer that the accept filter refuses.
  TReply& RefusedReply() { return refused_reply_; }
  // Sent when a PROXY header was expected and none valid came.
  TReply& ProxyHeaderReply() { return proxy_header_reply_; }

  void SetCommandTable(TCommandTable table) { table_ = std::move(table); }
  const TCommandTable& CommandTable() const { return table_; }
  // The command words in dispatch order as the active server will have
  // them (with Help, which the first activation appends): the indexes
  // OnCommandDone reports refer to this list.
  std::vector<std::string> CommandWords() const;
  // Creates the context of every accepted connection (default: TContext).
  void SetContextFactory(TContextFactory factory) { context_factory_ = std::move(factory); }
  // Asked on the listener thread for every accepted connection, before the
  // connection limit is checked: false refuses the peer, which receives
  // RefusedReply and is closed before a command is read. On a TLS binding
  // it is asked on the connection's thread after the handshake instead,
  // with the client certificate's name. Empty (the default): every peer is
  // accepted.
  void SetAcceptFilter(TAcceptFilter filter) { accept_filter_ = std::move(filter); }
  // PROXY protocol: with a proxy filter set, every connection comes from a
  // load balancer, which must pass the filter (else RefusedReply) and send a
  // PROXY header (version 1 or 2) within kProxyHeaderTimeoutMs (else
  // ProxyHeaderReply). The header is read on the connection's thread; the
  // accept filter and the per-address limit then apply to the client's
  // address it carries, which the connection reports as its peer. Empty
  // (the default): no header is read. Set while inactive.
  void SetProxyFilter(TAcceptFilter filter) { proxy_filter_ = std::move(filter); }
  // The certificate and key of the TLS bindings; may be replaced at any time
  // (a reload): connections accepted afterwards use the new one, live ones
  // keep theirs. Activate refuses TLS bindings without one.
  void SetTlsContext(std::shared_ptr<const TTlsContext> context);
  std::shared_ptr<const TTlsContext> TlsContext() const;

  // Session hand-off: with a hand-off set, the connection's thread does not
  // serve the session itself. After the PROXY admission it calls the
  // hand-off with the context (its connection's peer already the client's)
  // and whether the binding wants TLS; the session lasts as long as the
  // call. Whoever serves it elsewhere must keep the context's activity
  // (BeginCommand, EndCommand) current, so that a graceful stop can drain
  // it. Set while inactive.
  using TSessionHandOff = std::function<void(TContext& context, bool tls)>;
  void SetSessionHandOff(TSessionHandOff hand_off) { hand_off_ = std::move(hand_off); }

  // Serves one session handed over from elsewhere on the calling thread,
  // with this (inactive) server's settings, table and events: the TLS
  // handshake when tls is set, the greeting and the command loop. peer
  // replaces the socket's peer when set (a PROXY header named the client).
  // Returns when the session has ended and its context is destroyed.
  void ServeSession(TSocket socket, std::shared_ptr<const TTlsContext> tls,
                    const std::optional<TIpAddress>& peer, const std::string& peer_name);

  // Connect runs on the connection's thread before the greeting; disconnect
  // after its last command; exception when an exception ended a connection's
  // command loop; listen exception for a failure in a listener thread;
  // application error for an exception that escaped a background thread's
  // own handling (including the events above).
  TContextEvent OnConnect;
  TContextEvent OnDisconnect;
  TExceptionEvent OnException;
  TErrorEvent OnListenException;
  TErrorEvent OnApplicationError;
  // A connection closed for idleness, on its own thread.
  TContextEvent OnIdleTimeout;
  // A connection refused by a limit or a missing PROXY header: the peer
  // host (a balancer's client, or the balancer) and the refusal reply. On
  // the listener thread, or on the connection's when a PROXY header came
  // first.
  std::function<void(const std::string& peer, const TReply& reply)> OnRefused;
  // A TLS handshake failed or ran out of time: the peer and why. On the
  // connection's thread, which then ends.
  std::function<void(const std::string& peer, const std::string& reason)> OnTlsFailure;
  // A command line is about to be dispatched, on the connection's thread.
  std::function<void(TContext& context, const std::string& line)> OnCommandBegin;
  // Deactivate's grace period has ended (at once without one): running
  // commands are cut off from now on. Called with the server's lock held;
  // it must only note the fact and return.
  std::function<void()> OnGraceEnded;
  // Deactivate found sessions still running at the stop deadline; called
  // with what each was doing, on the deactivating thread.
  struct TStuckSession {
    std::string peer;
    std::string command;  // empty between commands
    double seconds = 0;   // since the command began
  };
  std::function<void(const std::vector<TStuckSession>& sessions)> OnStopDeadline;
  // A command line was answered, on the connection's thread: the index of
  // the table entry that ran (kNoCommand for a line no entry matched), the
  // reply code sent (0 when none: `quit`, or the connection ended during
  // the command) and the time from dispatch to the end of the answer.
  static constexpr size_t kNoCommand = static_cast<size_t>(-1);
  std::function<void(size_t command, int reply_code, std::chrono::nanoseconds elapsed)>
      OnCommandDone;
  // Before (running) and after (not running) the work a command left for
  // the quiet moment after it, with that command's line: the work still
  // belongs to the command for a stop, which waits for it or names it, but
  // not for the command's duration.
  std::function<void(TContext& context, const std::string& line, bool running)> OnIdleWork;

  // Counters for the bytes every connection accepted from now on reads and
  // writes; they must outlive the server. Null: not counted.
  void SetTrafficCounters(TCounter* received, TCounter* sent) {
    bytes_received_ = received;
    bytes_sent_ = sent;
  }

  // Binds and listens on every binding and starts accepting. On the first
  // activation the built-in Help command is appended to the table. Raises
  // ESocketError when a binding cannot be set up; nothing is left listening
  // then.
  void Activate();
  // Stops listening, lets running commands finish within the shutdown grace
  // period, closes every connection and waits until every connection thread
  // has ended, at most the stop timeout. Threads still
  // running then (stuck inside a driver) are reported to OnStopDeadline and
  // abandoned: HasAbandonedThreads() turns true, and the owner must end the
  // process without destroying the server or anything those sessions use.
  void Deactivate();
  bool Active() const { return active_; }
  bool HasAbandonedThreads() const { return abandoned_; }

  int ConnectionCount() const;
  // The port a binding listens on (useful with port 0). REQUIRES: Active().
  uint16_t BoundPort(size_t binding) const;

 private:
  struct TSlot {
    std::unique_ptr<TContext> context;
    std::string host;  // the peer host, as counted in per_host_; empty: not counted
  };
  struct TStart;

  void AddHelpCommand();
  void Listen(size_t binding);
  void Accept(TSocket socket, const TBinding& binding);
  static void* ConnectionThread(void* start);
  // Reads the PROXY header of a connection from a balancer and admits the
  // client it names, or refuses it; false when refused.
  bool AdmitProxiedClient(TSlot& slot, bool tls);
  void Refuse(TConnection& connection, const TReply& reply);
  // The handshake of a connection on a TLS binding; false when it failed
  // (reported to OnTlsFailure) and the connection is closed.
  bool StartTls(TContext& context, std::shared_ptr<const TTlsContext> tls);
  void RunConnection(TContext& context);
  // Runs the work a command left for the quiet moment after it, giving way
  // as soon as the client sends or the connection ends.
  static void RunIdleWork(TConnection& connection, const TContext::TIdleWork& work);
  void DispatchLine(TContext& context, const std::string& line);
  // Returns the numeric code of the reply sent.
  int RunCommand(const TCommandHandler& command, TContext& context, const std::string& line);
  void ConnectionEnded(std::list<TSlot>::iterator slot) noexcept;
  // Counts the connection against the limits, or returns the reply that
  // refuses it. REQUIRES: mutex_ held.
  const TReply* Admit(const std::string& host);
  // The per-address part of Admit. REQUIRES: mutex_ held.
  const TReply* AdmitHost(const std::string& host);
  void ForgetHost(const std::string& host);          // REQUIRES: mutex_ held
  std::vector<TStuckSession> StuckSessions() const;  // REQUIRES: mutex_ held
  void ReapFinishedThreads();
  void ReportApplicationError(const std::exception& error) noexcept;

  uint16_t default_port_ = kDefaultPort;
  std::vector<TBinding> bindings_;
  int listen_queue_ = kListenQueue;
  int max_connections_ = kMaxConnections;  // Guarded by mutex_
  int max_connections_per_address_ = 0;    // Guarded by mutex_
  std::atomic<int> idle_timeout_ms_ = 0;
  int stop_timeout_ms_ = kDefaultStopTimeoutMs;
  int shutdown_grace_ms_ = 0;
  std::atomic<size_t> max_line_length_ = kDefaultMaxLineLength;
  std::atomic<int> read_timeout_ms_ = kReadTimeoutMs;
  TReply greeting_{200, "Velquarn 2.1"};
  TReply exception_reply_{500, "Unknown Internal Error"};
  TReply reply_unknown_command_{400, "unknown command"};
  TReply help_reply_{100, "Help follows"};
  TReply max_connection_reply_{300, "Max connections reached"};
  TReply max_address_connection_reply_{300, "Max connections per address reached"};
  TReply refused_reply_{301, "Connections from this address are not allowed"};
  TReply proxy_header_reply_{301, "A valid PROXY protocol header is required"};
  TAcceptFilter accept_filter_;
  TAcceptFilter proxy_filter_;
  std::shared_ptr<const TTlsContext> tls_context_;  // Guarded by mutex_
  TCommandTable table_;
  TContextFactory context_factory_;
  TSessionHandOff hand_off_;
  bool help_added_ = false;
  TCounter* bytes_received_ = nullptr;
  TCounter* bytes_sent_ = nullptr;

  bool active_ = false;
  bool abandoned_ = false;
  int stop_fd_ = -1;  // eventfd that wakes the listeners to stop
  std::vector<TSocket> listen_sockets_;
  std::vector<std::thread> listeners_;

  mutable std::mutex mutex_;
  std::condition_variable all_ended_;
  std::list<TSlot> slots_;               // Guarded by mutex_
  std::vector<pthread_t> finished_;      // Guarded by mutex_: ended, not yet joined
  int running_threads_ = 0;              // Guarded by mutex_
  std::map<std::string, int> per_host_;  // Guarded by mutex_: live connections
};

}  // namespace velquarn

#include "protocol/command_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

#include "common/memory_return.h"
#include "common/text.h"
#include "protocol/command_invocation.h"
#include "protocol/connection_errors.h"
#include "protocol/data_block.h"

namespace velquarn {

namespace {

// How often an idle listener wakes to join the threads of ended connections.
constexpr int kReapIntervalMs = 1000;

bool IsConnectionFailure(const std::exception& error) {
  return dynamic_cast<const EConnectionError*>(&error) != nullptr;
}

// Marks a context busy with one command for as long as it runs; Started()
// is false when the context was draining and the command must not run.
class TCommandActivity {
 public:
  TCommandActivity(TContext& context, const std::string& line)
      : context_(context), started_(context.BeginCommand(line)) {}
  ~TCommandActivity() {
    if (started_) context_.EndCommand();
  }
  TCommandActivity(const TCommandActivity&) = delete;
  TCommandActivity& operator=(const TCommandActivity&) = delete;
  bool Started() const { return started_; }

 private:
  TContext& context_;
  const bool started_;
};

}  // namespace

struct TCommandServer::TStart {
  TCommandServer* server;
  std::list<TSlot>::iterator slot;
  bool proxied;                            // a PROXY header comes first
  std::shared_ptr<const TTlsContext> tls;  // then a TLS handshake
};

TCommandServer::TCommandServer() { bindings_.push_back(TAddressFamily::kIPv4); }

TCommandServer::~TCommandServer() {
  Deactivate();
  // Abandoned sessions still run on their threads: their contexts are left
  // to the process's end rather than freed under them.
  if (abandoned_) {
    for (auto& slot : slots_) (void)slot.context.release();
  }
}

void TCommandServer::SetMaxConnections(int count) {
  std::scoped_lock lock(mutex_);
  max_connections_ = count;
}

void TCommandServer::SetMaxConnectionsPerAddress(int count) {
  std::scoped_lock lock(mutex_);
  max_connections_per_address_ = count;
}

int TCommandServer::ConnectionCount() const {
  std::scoped_lock lock(mutex_);
  return static_cast<int>(slots_.size());
}

uint16_t TCommandServer::BoundPort(size_t binding) const {
  return LocalPort(listen_sockets_.at(binding));
}

std::vector<std::string> TCommandServer::CommandWords() const {
  std::vector<std::string> words;
  for (const auto& command : table_) words.push_back(command.Command);
  if (!help_added_ && help_reply_.HasCode()) words.emplace_back("Help");
  return words;
}

void TCommandServer::AddHelpCommand() {
  TCommandHandler help;
  help.Command = "Help";
  help.Description = {"Displays commands that the servers supports."};
  help.NormalReply = help_reply_;
  table_.push_back(std::move(help));

  std::vector<const TCommandHandler*> visible;
  for (const auto& command : table_) {
    if (command.HelpVisible) visible.push_back(&command);
  }
  std::stable_sort(visible.begin(), visible.end(),
                   [](auto* a, auto* b) { return CompareText(a->Command, b->Command) < 0; });
  std::vector<std::string> response;
  for (const auto* command : visible) {
    response.push_back(command->Command);
    for (const auto& line : command->Description) response.push_back("  " + line);
    response.emplace_back();
  }
  table_.back().Response = std::move(response);
}

void TCommandServer::Activate() {
  if (active_) return;
  if (!help_added_ && help_reply_.HasCode()) {
    AddHelpCommand();
    help_added_ = true;
  }
  std::vector<TSocket> sockets;
  for (const auto& binding : bindings_) {
    if (binding.tls && !tls_context_) {
      throw ESocketError(EINVAL, "TLS binding " + binding.ToString() + " without a certificate");
    }
    sockets.push_back(
        ListenOn(binding, binding.port != 0 ? binding.port : default_port_, listen_queue_));
  }
  stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) throw ESocketError(errno, "eventfd");
  listen_sockets_ = std::move(sockets);
  active_ = true;
  for (size_t i = 0; i < listen_sockets_.size(); ++i) {
    listeners_.emplace_back([this, i] { Listen(i); });
  }
}

void TCommandServer::Deactivate() {
  if (!active_) return;
  uint64_t one = 1;
  if (::write(stop_fd_, &one, sizeof(one)) < 0) {
    // An eventfd write fails only on counter overflow; the listeners are
    // awake already then.
  }
  for (auto& listener : listeners_) listener.join();
  listeners_.clear();
  listen_sockets_.clear();
  ::close(stop_fd_);
  stop_fd_ = -1;

  std::vector<pthread_t> finished;
  std::vector<TStuckSession> stuck;
  {
    std::unique_lock lock(mutex_);
    auto all_ended = [this] { return running_threads_ == 0; };
    if (shutdown_grace_ms_ > 0) {
      // Idle connections close now; running commands may finish within the
      // grace period, after which their connections end on their own.
      for (auto& slot : slots_) {
        if (slot.context->Drain()) slot.context->Connection().Shutdown();
      }
      all_ended_.wait_for(lock, std::chrono::milliseconds(shutdown_grace_ms_), all_ended);
    }
    if (OnGraceEnded) OnGraceEnded();
    for (auto& slot : slots_) slot.context->Connection().Shutdown();
    // A thread inside a driver call that never returns cannot be woken by
    // closing its socket; the stop gives up on it after the timeout instead
    // of hanging the whole service.
    if (stop_timeout_ms_ < 0) {
      all_ended_.wait(lock, all_ended);
    } else if (!all_ended_.wait_for(lock, std::chrono::milliseconds(stop_timeout_ms_), all_ended)) {
      stuck = StuckSessions();
      abandoned_ = true;
    }
    finished.swap(finished_);
  }
  for (auto thread : finished) pthread_join(thread, nullptr);
  active_ = false;
  if (abandoned_ && OnStopDeadline) {
    try {
      OnStopDeadline(stuck);
    } catch (const std::exception& error) {
      ReportApplicationError(error);
    }
  }
}

std::vector<TCommandServer::TStuckSession> TCommandServer::StuckSessions() const {
  const auto now = std::chrono::steady_clock::now();
  std::vector<TStuckSession> sessions;
  for (const auto& slot : slots_) {
    TContext::TActivity activity = slot.context->Activity();
    TStuckSession session;
    session.peer = slot.context->Connection().PeerName();
    session.command = std::move(activity.command);
    session.seconds = std::chrono::duration<double>(now - activity.since).count();
    sessions.push_back(std::move(session));
  }
  return sessions;
}

const TReply* TCommandServer::Admit(const std::string& host) {
  if (max_connections_ > 0 && static_cast<int>(slots_.size()) >= max_connections_) {
    return &max_connection_reply_;
  }
  return host.empty() ? nullptr : AdmitHost(host);
}

const TReply* TCommandServer::AdmitHost(const std::string& host) {
  if (max_connections_per_address_ > 0) {
    auto counted = per_host_.find(host);
    if (counted != per_host_.end() && counted->second >= max_connections_per_address_) {
      return &max_address_connection_reply_;
    }
  }
  return nullptr;
}

void TCommandServer::ReapFinishedThreads() {
  std::vector<pthread_t> finished;
  {
    std::scoped_lock lock(mutex_);
    finished.swap(finished_);
  }
  for (auto thread : finished) pthread_join(thread, nullptr);
}

void TCommandServer::Listen(size_t binding) {
  pthread_setname_np(pthread_self(), Format("Listener #%zu", binding + 1).c_str());
  int listen_fd = listen_sockets_[binding].Fd();
  for (;;) {
    try {
      pollfd fds[2] = {{listen_fd, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
      int ready = ::poll(fds, 2, kReapIntervalMs);
      ReapFinishedThreads();
      if (ready < 0 && errno != EINTR) throw ESocketError(errno, "poll");
      if (fds[1].revents != 0) return;
      if (ready <= 0 || fds[0].revents == 0) continue;
      TSocket socket(::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC));
      if (!socket.Valid()) {
        int error = errno;
        if (error == EINTR || error == EAGAIN || error == ECONNABORTED) continue;
        // Out of descriptors or memory: the pending connection stays queued,
        // so pause instead of spinning on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        throw ESocketError(error, "accept");
      }
      Accept(std::move(socket), bindings_[binding]);
    } catch (const std::exception& error) {
      try {
        if (OnListenException) OnListenException(error);
      } catch (const std::exception& nested) {
        ReportApplicationError(nested);
      }
    }
  }
}

void TCommandServer::SetTlsContext(std::shared_ptr<const TTlsContext> context) {
  std::scoped_lock lock(mutex_);
  tls_context_ = std::move(context);
}

std::shared_ptr<const TTlsContext> TCommandServer::TlsContext() const {
  std::scoped_lock lock(mutex_);
  return tls_context_;
}

void TCommandServer::ServeSession(TSocket socket, std::shared_ptr<const TTlsContext> tls,
                                  const std::optional<TIpAddress>& peer,
                                  const std::string& peer_name) {
  if (!help_added_ && help_reply_.HasCode()) {
    AddHelpCommand();
    help_added_ = true;
  }
  std::unique_ptr<TContext> context =
      context_factory_ ? context_factory_() : std::make_unique<TContext>();
  context->AttachConnection(std::make_unique<TConnection>(
      std::move(socket), max_line_length_.load(), read_timeout_ms_.load()));
  TConnection& connection = context->Connection();
  connection.SetTrafficCounters(bytes_received_, bytes_sent_);
  if (peer) connection.SetPeer(*peer, peer_name);
  try {
    if (!tls || StartTls(*context, std::move(tls))) RunConnection(*context);
  } catch (const std::exception& error) {
    ReportApplicationError(error);
  }
  try {
    context.reset();
  } catch (...) {
  }
}

void TCommandServer::Accept(TSocket socket, const TBinding& binding) {
  // From a balancer, the client's address is known only once its header is
  // read, on the connection's thread: here the balancer itself is checked,
  // and only the total limit applies.
  const bool proxied = static_cast<bool>(proxy_filter_);
  // On a TLS binding the client may be allowed by its certificate's name,
  // known only after the handshake.
  const TAcceptFilter& filter =
      proxied ? proxy_filter_ : (binding.tls ? TAcceptFilter() : accept_filter_);
  if (filter && !filter(PeerAddressOf(socket.Fd()), "")) {
    std::string refusal = refused_reply_.FormatWire();
    ::send(socket.Fd(), refusal.data(), refusal.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return;
  }
  const std::string host = proxied ? std::string() : socket.PeerHost();
  // Options on an accepted socket fail only when the peer is already gone;
  // the command loop then ends at its first read.
  try {
    socket.SetNoDelay();
    socket.SetKeepAlive(kKeepAliveIdleMs, kKeepAliveIntervalMs);
  } catch (const ESocketError&) {
  }
  std::unique_ptr<TContext> context =
      context_factory_ ? context_factory_() : std::make_unique<TContext>();
  context->AttachConnection(std::make_unique<TConnection>(
      std::move(socket), max_line_length_.load(), read_timeout_ms_.load()));
  context->Connection().SetTrafficCounters(bytes_received_, bytes_sent_);
  // The limits are checked and the connection counted under one lock, so
  // that listeners accepting at the same time cannot both take the last place.
  std::list<TSlot>::iterator slot;
  const TReply* refusal = nullptr;
  std::shared_ptr<const TTlsContext> tls;
  {
    std::scoped_lock lock(mutex_);
    if (binding.tls) tls = tls_context_;
    refusal = Admit(host);
    if (refusal == nullptr) {
      slots_.push_back(TSlot{std::move(context), host});
      slot = std::prev(slots_.end());
      ++running_threads_;
      if (!host.empty()) ++per_host_[host];
    }
  }
  if (refusal != nullptr) {
    std::string wire = refusal->FormatWire();
    ::send(context->Connection().Socket().Fd(), wire.data(), wire.size(),
           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (OnRefused) OnRefused(host, *refusal);
    return;
  }
  auto start = std::make_unique<TStart>(TStart{this, slot, proxied, std::move(tls)});
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kConnectionStackSize);
  pthread_attr_setguardsize(&attributes, kConnectionGuardSize);
  pthread_t thread;
  int result = pthread_create(&thread, &attributes, &TCommandServer::ConnectionThread, start.get());
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    std::unique_ptr<TContext> failed;
    {
      std::scoped_lock lock(mutex_);
      failed = std::move(slot->context);
      ForgetHost(slot->host);
      slots_.erase(slot);
      --running_threads_;
    }
    throw ESocketError(result, "pthread_create");
  }
  start.release();
}

void* TCommandServer::ConnectionThread(void* argument) {
  std::unique_ptr<TStart> start(static_cast<TStart*>(argument));
  TCommandServer& server = *start->server;
  try {
    if (!start->proxied || server.AdmitProxiedClient(*start->slot, start->tls != nullptr)) {
      if (server.hand_off_) {
        // Serving elsewhere: the handshake is the server's who serves.
        server.hand_off_(*start->slot->context, start->tls != nullptr);
      } else if (!start->tls || server.StartTls(*start->slot->context, std::move(start->tls))) {
        server.RunConnection(*start->slot->context);
      }
    }
  } catch (const std::exception& error) {
    server.ReportApplicationError(error);
  } catch (...) {
    server.ReportApplicationError(Exception("Unknown exception"));
  }
  server.ConnectionEnded(start->slot);
  return nullptr;
}

void TCommandServer::ConnectionEnded(std::list<TSlot>::iterator slot) noexcept {
  std::unique_ptr<TContext> context;
  bool last_session;
  {
    std::scoped_lock lock(mutex_);
    context = std::move(slot->context);
    ForgetHost(slot->host);
    slots_.erase(slot);
    last_session = slots_.empty();
  }
  // The context (its query, database and socket) is destroyed on its own
  // thread, outside the lock, before the thread reports that it has ended.
  try {
    context.reset();
  } catch (...) {
  }
  // What the session used goes back to the system: at once when the gateway
  // falls idle, otherwise at a bounded rate.
  ReturnFreeMemoryAtMostEverySecond(last_session);
  std::scoped_lock lock(mutex_);
  finished_.push_back(pthread_self());
  --running_threads_;
  all_ended_.notify_all();
}

bool TCommandServer::AdmitProxiedClient(TSlot& slot, bool tls) {
  TConnection& connection = slot.context->Connection();
  bool header_read = false;
  try {
    header_read = connection.ReadProxyHeader(kProxyHeaderTimeoutMs);
  } catch (const EConnectionError&) {
    // Closed before its header: a balancer's plain connect check.
    return false;
  }
  if (!header_read) {
    Refuse(connection, proxy_header_reply_);
    if (OnRefused) {
      OnRefused(connection.PeerAddress() ? connection.PeerAddress()->ToString() : "",
                proxy_header_reply_);
    }
    return false;
  }
  if (!tls && accept_filter_ && !accept_filter_(connection.PeerAddress(), "")) {
    Refuse(connection, refused_reply_);
    return false;
  }
  const std::string host = connection.PeerAddress() ? connection.PeerAddress()->ToString() : "";
  const TReply* refusal = nullptr;
  {
    std::scoped_lock lock(mutex_);
    refusal = host.empty() ? nullptr : AdmitHost(host);
    if (refusal == nullptr && !host.empty()) {
      slot.host = host;
      ++per_host_[host];
    }
  }
  if (refusal != nullptr) {
    Refuse(connection, *refusal);
    if (OnRefused) OnRefused(host, *refusal);
    return false;
  }
  return true;
}

bool TCommandServer::StartTls(TContext& context, std::shared_ptr<const TTlsContext> tls) {
  TConnection& connection = context.Connection();
  try {
    connection.StartTls(std::move(tls), kTlsHandshakeTimeoutMs);
    if (accept_filter_ && !accept_filter_(connection.PeerAddress(), connection.PeerCommonName())) {
      Refuse(connection, refused_reply_);
      return false;
    }
    return true;
  } catch (const EConnectionClosed&) {
    // Gone before or during the handshake: a port scan or a plain connect
    // check, nothing to log.
  } catch (const EConnectionError& error) {
    if (OnTlsFailure) OnTlsFailure(connection.PeerName(), error.what());
  }
  connection.Close();
  return false;
}

void TCommandServer::Refuse(TConnection& connection, const TReply& reply) {
  try {
    connection.Write(reply.FormatWire());
  } catch (const EConnectionError&) {
    // Gone already: nothing to tell it.
  }
  connection.Close();
}

void TCommandServer::ForgetHost(const std::string& host) {
  auto counted = per_host_.find(host);
  if (counted != per_host_.end() && --counted->second <= 0) per_host_.erase(counted);
}

void TCommandServer::ReportApplicationError(const std::exception& error) noexcept {
  try {
    if (OnApplicationError) OnApplicationError(error);
  } catch (...) {
  }
}

void TCommandServer::RunConnection(TContext& context) {
  TConnection& connection = context.Connection();
  try {
    if (OnConnect) OnConnect(context);
    if (connection.Connected()) connection.Write(greeting_.FormatWire());
    // Read once: a reload that changes IdleTimeout applies to later
    // connections.
    const int idle_timeout_ms = idle_timeout_ms_;
    const int wait_ms = idle_timeout_ms > 0 ? idle_timeout_ms : connection.ReadTimeoutMs();
    while (connection.Connected()) {
      std::optional<std::string> line = connection.TryReadLine(wait_ms);
      if (!line && idle_timeout_ms > 0) {
        if (OnIdleTimeout) OnIdleTimeout(context);
        break;
      }
      if (!line || line->empty()) continue;
      TCommandActivity activity(context, *line);
      if (!activity.Started()) break;
      if (OnCommandBegin) OnCommandBegin(context, *line);
      DispatchLine(context, *line);
      // A graceful stop let this command finish; the connection ends now.
      if (context.Draining()) break;
      if (TContext::TIdleWork work = context.TakeIdleWork()) {
        if (OnIdleWork) OnIdleWork(context, *line, true);
        RunIdleWork(connection, work);
        if (OnIdleWork) OnIdleWork(context, *line, false);
      }
    }
  } catch (const std::exception& error) {
    try {
      if (OnException) OnException(&context, error);
    } catch (const std::exception& nested) {
      ReportApplicationError(nested);
    }
  }
  connection.Close();
  if (OnDisconnect) OnDisconnect(context);
}

void TCommandServer::RunIdleWork(TConnection& connection, const TContext::TIdleWork& work) {
  // A poll for every step of the work would cost as much as a fast
  // driver's fetch of a row; one every 50 us keeps the client waiting no
  // longer than that.
  constexpr auto kPollInterval = std::chrono::microseconds(50);
  auto next_poll = std::chrono::steady_clock::time_point{};
  work([&] {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_poll) return false;
    next_poll = now + kPollInterval;
    return connection.InputPending();
  });
}

void TCommandServer::DispatchLine(TContext& context, const std::string& line) {
  const auto started = std::chrono::steady_clock::now();
  size_t index = kNoCommand;
  int reply_code = 0;
  for (size_t i = 0; i < table_.size(); ++i) {
    if (table_[i].Enabled && table_[i].Matches(line)) {
      index = i;
      break;
    }
  }
  if (index != kNoCommand) {
    try {
      reply_code = RunCommand(table_[index], context, line);
    } catch (...) {
      if (OnCommandDone) {
        OnCommandDone(index, 0, std::chrono::steady_clock::now() - started);
      }
      throw;
    }
  } else {
    TReply reply = reply_unknown_command_;
    reply.FillDefaultText();
    reply.AddLine(line);
    context.Connection().Write(reply.FormatWire());
    reply_code = reply.NumericCode();
  }
  if (OnCommandDone) OnCommandDone(index, reply_code, std::chrono::steady_clock::now() - started);
}

int TCommandServer::RunCommand(const TCommandHandler& command, TContext& context,
                               const std::string& line) {
  TCommandInvocation invocation(command, context, line);
  try {
    if (command.OnCommand) command.OnCommand(invocation);
    if (!invocation.Reply().HasCode()) invocation.Reply() = command.NormalReply;
    invocation.Reply().FillDefaultText();
  } catch (const std::exception& error) {
    if (IsConnectionFailure(error)) throw;
    TReply& reply = invocation.Reply();
    reply = command.ExceptionReply.HasCode() ? command.ExceptionReply : exception_reply_;
    reply.SetText(error.what());
    invocation.SendReply();
  }
  if (invocation.PerformReply()) invocation.SendReply();
  if (!invocation.Response().empty() || invocation.SendEmptyResponse()) {
    context.Connection().Write(FormatDataBlock(invocation.Response()));
  } else if (!command.Response.empty()) {
    context.Connection().Write(FormatDataBlock(command.Response));
  }
  if (invocation.Disconnect()) context.Connection().Close();
  return invocation.Reply().NumericCode();
}

}  // namespace velquarn

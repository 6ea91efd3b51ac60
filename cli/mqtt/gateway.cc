#include "cli/mqtt/gateway.h"

#include <json/writer.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <utility>

#include "cli/mqtt/broker_link.h"
#include "cli/mqtt/discovery.h"
#include "cli/mqtt/missed_records.h"
#include "cli/mqtt/set_topics.h"
#include "cli/mqtt/topic_layout.h"
#include "cli/mqtt/unit_values.h"

namespace velmocair::mqtt {
namespace {

constexpr char kOnline[] = "online";
constexpr char kOffline[] = "offline";
// Home Assistant's birth message on PREFIX/status.
constexpr char kBirth[] = "online";
// The worker looks at the units' ages at least this often.
constexpr std::chrono::milliseconds kTick{250};
// Units whose configuration and state one pass of a republish sends before
// the worker looks at new states and commands again.
constexpr std::size_t kUnitsPerPass = 4;
// States the worker takes from the slots at a time: the copies it holds
// stay few however many units complete at once.
constexpr std::size_t kStatesPerPass = 32;
// Stored records one pass of backfill publishes.
constexpr std::size_t kRecordsPerPass = 64;
// Link statistics of a unit whose cycles complete are published this often.
constexpr std::chrono::seconds kLinkInterval{60};
constexpr std::chrono::seconds kCloseLimit{2};

enum class Availability : unsigned char { unknown, online, offline };

// What a caller hands over for one unit; the gateway keeps the latest.
struct Slot {
  bool state = false;  // a completed cycle's state waits
  UnitValues values = UnitValues::absent();
  RecordTime time;
  bool link = false;  // new link figures wait
  LinkFigures figures;
  std::uint64_t replaced = 0;  // states replaced before the worker took them
  std::optional<RecordTime> first_replaced;
  std::optional<SteadyClock::time_point> completed_at;
  bool queued = false;
};

struct SetMessage {
  std::size_t unit;
  std::string word;
  std::string payload;
};

struct Outcome {
  std::size_t unit;
  std::string word;
  std::optional<int> value;
  CommandResult result;
};

std::string json_text(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

std::string outcome_payload(const Outcome& outcome) {
  Json::Value payload(Json::objectValue);
  payload["command"] = outcome.word;
  if (outcome.value) {
    payload["value"] = *outcome.value;
  }
  payload["result"] = outcome.result.text;
  payload["confirmed"] = outcome.result.confirmed;
  payload["time"] = iso_time(local_time_now());
  return json_text(payload);
}

}  // namespace

// The outcomes of commands come back through this box, which outlives the
// worker: a reply after the gateway stopped is dropped.
struct OutcomeBox {
  std::mutex mutex;
  std::function<void(Outcome)> deliver;  // empty once the gateway stopped
};

class Gateway::Worker {
 public:
  explicit Worker(GatewayOptions options);
  void start();
  void stop();
  void cycle_completed(std::size_t unit, const Json::Value& document, const LinkFigures& link);
  void cycle_failed(std::size_t unit, const LinkFigures& link);
  GatewayCounts counts() const;

 private:
  // The worker's own view of a unit.
  struct Unit {
    DiscoveredUnit identity;
    UnitValues current = UnitValues::absent();  // the latest state
    RecordTime current_time;
    bool has_current = false;
    bool current_published = false;  // the broker has it
    LinkFigures link;
    std::optional<SteadyClock::time_point> link_published_at;
    std::uint64_t link_failed_published = 0;
    std::optional<SteadyClock::time_point> last_completed;
    Availability availability = Availability::unknown;
    std::uint64_t dropped = 0;
    MissedRecords missed;
  };

  // With mutex_ held: the worker is to look at the unit's slot.
  void queue(std::size_t unit);
  void run();
  bool has_work() const;
  void take_and_handle();
  void handle_state(Unit& unit, Slot& slot);
  bool publish_state(Unit& unit, const UnitValues& next, const RecordTime& time, bool full);
  bool publish_link(Unit& unit);
  bool publish_availability(Unit& unit);
  void check_ages();
  void republish_some();
  bool republish_unit(Unit& unit);
  void backfill_some();
  void handle_set(const SetMessage& message);
  void refuse(std::size_t unit, const std::string& word, const std::string& why);
  bool send(const std::string& topic, std::string_view payload, Retain retain);

  // Called on the link's network thread.
  void on_connected();
  void on_disconnected();
  void on_message(const std::string& topic, const std::string& payload);

  GatewayOptions options_;
  TopicLayout topics_;
  std::unordered_map<std::string, std::size_t> unit_by_topic_id_;
  std::unique_ptr<BrokerLink> link_;
  std::shared_ptr<OutcomeBox> outcomes_box_ = std::make_shared<OutcomeBox>();
  std::thread thread_;
  SteadyClock::time_point started_at_;

  // Handed over by callers and the network thread.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool started_ = false;
  bool stopping_ = false;
  bool connected_ = false;
  bool republish_requested_ = false;
  std::vector<Slot> slots_;
  std::deque<std::size_t> queued_;
  std::deque<SetMessage> set_messages_;
  std::deque<Outcome> outcomes_;

  // The worker's own.
  std::vector<Unit> units_;
  bool online_ = false;  // connected, as the worker last saw it
  std::optional<std::size_t> republish_next_;
  std::size_t backfill_next_ = 0;
  bool backfill_pending_ = false;
  std::uint64_t dropped_published_ = 0;

  std::atomic<std::uint64_t> dropped_{0};
  std::atomic<std::uint64_t> backfilled_{0};
  std::atomic<std::uint64_t> commands_{0};
  std::atomic<std::uint64_t> refused_{0};
};

Gateway::Worker::Worker(GatewayOptions options)
    : options_(std::move(options)),
      topics_(options_.broker.base_topic, options_.broker.discovery_prefix),
      slots_(options_.units.size()) {
  if (!options_.read_only && !options_.on_command) {
    throw std::invalid_argument("a gateway that takes commands needs a command handler");
  }
  if (!options_.clock) {
    options_.clock = SteadyClock::now;
  }
  for (std::size_t i = 0; i < options_.units.size(); ++i) {
    const UnitIdentity& identity = options_.units[i];
    Unit unit;
    unit.identity = {identity.name, identity.data_id,
                     unit_topic_id(identity.name, identity.data_id)};
    if (!unit_by_topic_id_.emplace(unit.identity.topic_id, i).second) {
      throw BrokerSettingsError("units " + identity.name + " and " +
                                options_.units[unit_by_topic_id_[unit.identity.topic_id]].name +
                                " would share the topic level " + unit.identity.topic_id);
    }
    units_.push_back(std::move(unit));
  }
  LinkHandlers handlers;
  handlers.connected = [this] { on_connected(); };
  handlers.disconnected = [this] { on_disconnected(); };
  handlers.message = [this](const std::string& topic, const std::string& payload) {
    on_message(topic, payload);
  };
  handlers.notice = options_.notice;
  link_ = std::make_unique<BrokerLink>(options_.broker, options_.password,
                                       Will{topics_.bridge_availability(), kOffline},
                                       std::move(handlers), options_.window);
  outcomes_box_->deliver = [this](Outcome outcome) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      outcomes_.push_back(std::move(outcome));
    }
    wake_.notify_one();
  };
}

void Gateway::Worker::start() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (started_) {
      return;
    }
    started_ = true;
  }
  started_at_ = options_.clock();
  thread_ = std::thread([this] { run(); });
  link_->start();
}

void Gateway::Worker::stop() {
  {
    const std::lock_guard<std::mutex> box(outcomes_box_->mutex);
    outcomes_box_->deliver = nullptr;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      return;
    }
    stopping_ = true;
  }
  wake_.notify_all();
  link_->refuse_publishing();
  if (thread_.joinable()) {
    thread_.join();
  }
  link_->close(topics_.bridge_availability(), kOffline, kCloseLimit);
}

GatewayCounts Gateway::Worker::counts() const {
  const BrokerLink::Counts link = link_->counts();
  GatewayCounts counts;
  counts.attempts = link.attempts;
  counts.connections = link.connections;
  counts.published = link.published;
  counts.unconfirmed = link.unconfirmed;
  counts.dropped = dropped_;
  counts.backfilled = backfilled_;
  counts.commands = commands_;
  counts.refused = refused_;
  return counts;
}

void Gateway::Worker::cycle_completed(std::size_t unit, const Json::Value& document,
                                      const LinkFigures& link) {
  const UnitValues values = extract_values(document);
  const Json::Value& stamp = document.isObject() ? document[status::kUpdateTime] : Json::Value();
  const std::optional<RecordTime> time =
      stamp.isString() ? parse_document_time(stamp.asString()) : std::nullopt;
  const SteadyClock::time_point now = options_.clock();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_.at(unit);
    if (slot.state) {
      ++slot.replaced;
      if (!slot.first_replaced) {
        slot.first_replaced = slot.time;
      }
    }
    slot.state = true;
    slot.values = values;
    slot.time = time.value_or(local_time_now());
    slot.link = true;
    slot.figures = link;
    slot.completed_at = now;
    queue(unit);
  }
  wake_.notify_one();
}

void Gateway::Worker::cycle_failed(std::size_t unit, const LinkFigures& link) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_.at(unit);
    slot.link = true;
    slot.figures = link;
    queue(unit);
  }
  wake_.notify_one();
}

void Gateway::Worker::queue(std::size_t unit) {
  if (!slots_[unit].queued) {
    slots_[unit].queued = true;
    queued_.push_back(unit);
  }
}

void Gateway::Worker::on_connected() {
  link_->subscribe(topics_.set_filter());
  link_->subscribe(topics_.birth());
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    connected_ = true;
    republish_requested_ = true;
  }
  wake_.notify_one();
}

void Gateway::Worker::on_disconnected() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
  }
  wake_.notify_one();
}

void Gateway::Worker::on_message(const std::string& topic, const std::string& payload) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (topic == topics_.birth()) {
      republish_requested_ = republish_requested_ || payload == kBirth;
    } else if (const auto address = topics_.match_set(topic)) {
      const auto unit = unit_by_topic_id_.find(std::string(address->unit));
      if (unit == unit_by_topic_id_.end()) {
        return;
      }
      set_messages_.push_back({unit->second, std::string(address->word), payload});
    } else {
      return;
    }
  }
  wake_.notify_one();
}

bool Gateway::Worker::has_work() const {
  return stopping_ || !queued_.empty() || !set_messages_.empty() || !outcomes_.empty() ||
         republish_requested_ || connected_ != online_ ||
         (online_ && (republish_next_ || backfill_pending_));
}

void Gateway::Worker::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait_for(lock, kTick, [this] { return has_work(); });
    if (stopping_) {
      return;
    }
    lock.unlock();
    take_and_handle();
    lock.lock();
  }
}

void Gateway::Worker::take_and_handle() {
  std::vector<std::pair<std::size_t, Slot>> states;
  std::deque<SetMessage> set_messages;
  std::deque<Outcome> outcomes;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (connected_ != online_) {
      online_ = connected_;
      if (online_) {
        republish_requested_ = true;
      }
    }
    if (republish_requested_ && online_) {
      republish_requested_ = false;
      republish_next_ = 0;
    }
    const std::size_t taken = std::min(queued_.size(), kStatesPerPass);
    for (std::size_t i = 0; i < taken; ++i) {
      Slot& slot = slots_[queued_[i]];
      states.emplace_back(queued_[i], slot);
      slot.state = false;
      slot.link = false;
      slot.replaced = 0;
      slot.first_replaced.reset();
      slot.queued = false;
    }
    queued_.erase(queued_.begin(), queued_.begin() + static_cast<std::ptrdiff_t>(taken));
    set_messages.swap(set_messages_);
    outcomes.swap(outcomes_);
  }
  if (republish_next_ && *republish_next_ == 0 && online_) {
    send(topics_.bridge_availability(), kOnline, Retain::yes);
  }
  for (auto& [index, slot] : states) {
    handle_state(units_[index], slot);
  }
  for (const SetMessage& message : set_messages) {
    handle_set(message);
  }
  for (const Outcome& outcome : outcomes) {
    if (online_) {
      send(topics_.result(units_[outcome.unit].identity.topic_id), outcome_payload(outcome),
           Retain::no);
    }
  }
  check_ages();
  if (online_ && republish_next_) {
    republish_some();
  } else if (online_ && backfill_pending_) {
    backfill_some();
  }
  if (online_ && dropped_ != dropped_published_) {
    const std::uint64_t dropped = dropped_;
    if (send(topics_.bridge_dropped(), "{\"dropped\":" + std::to_string(dropped) + "}",
             Retain::yes)) {
      dropped_published_ = dropped;
    }
  }
}

void Gateway::Worker::handle_state(Unit& unit, Slot& slot) {
  if (slot.replaced > 0) {
    unit.dropped += slot.replaced;
    dropped_ += slot.replaced;
    unit.missed.missed(*slot.first_replaced);
  }
  if (slot.link) {
    unit.link = slot.figures;
  }
  if (!slot.state) {
    if (online_ && unit.link.cycles_failed != unit.link_failed_published) {
      publish_link(unit);
    }
    return;
  }
  if (unit.has_current && !unit.current_published) {
    ++unit.dropped;
    ++dropped_;
    unit.missed.missed(unit.current_time);
  }
  unit.last_completed = slot.completed_at;
  const bool was_online = unit.availability == Availability::online;
  unit.availability = Availability::online;
  if (!online_) {
    unit.current = slot.values;
    unit.current_time = slot.time;
    unit.has_current = true;
    unit.current_published = false;
    return;
  }
  if (!was_online) {
    publish_availability(unit);
  }
  publish_state(unit, slot.values, slot.time,
                !was_online || !unit.has_current || !unit.current_published);
}

bool Gateway::Worker::publish_state(Unit& unit, const UnitValues& next, const RecordTime& time,
                                    bool full) {
  const std::string iso = iso_time(time);
  const std::string& id = unit.identity.topic_id;
  bool sent = true;
  for (std::size_t member = 0; member < kMemberCount && sent; ++member) {
    if ((full || !same_cell(next.cells[member], unit.current.cells[member])) &&
        has_value(next.cells[member])) {
      sent = send(topics_.value(id, member_id(member)),
                  value_payload(member, next.cells[member], iso), Retain::yes);
    }
  }
  if (sent && (full || alarms_differ(next, unit.current))) {
    sent = send(topics_.alarms(id), alarms_payload(next, iso), Retain::yes);
  }
  const bool document_sent =
      sent && send(topics_.document(id), document_text(next, time), Retain::yes);
  if (&next != &unit.current) {
    unit.current = next;
  }
  unit.current_time = time;
  unit.has_current = true;
  unit.current_published = document_sent;
  if (!document_sent) {
    return false;
  }
  unit.missed.published(time);
  backfill_pending_ = backfill_pending_ || (options_.history && unit.missed.oldest() != nullptr);
  const SteadyClock::time_point now = options_.clock();
  if (full || !unit.link_published_at || now - *unit.link_published_at >= kLinkInterval ||
      unit.link.cycles_failed != unit.link_failed_published) {
    publish_link(unit);
  }
  return true;
}

bool Gateway::Worker::publish_link(Unit& unit) {
  const RecordTime now = local_time_now();
  if (!send(topics_.link(unit.identity.topic_id),
            link_payload(unit.link, unit.dropped, iso_time(now)), Retain::yes)) {
    return false;
  }
  unit.link_published_at = options_.clock();
  unit.link_failed_published = unit.link.cycles_failed;
  return true;
}

bool Gateway::Worker::publish_availability(Unit& unit) {
  if (unit.availability == Availability::unknown) {
    return true;
  }
  return send(topics_.availability(unit.identity.topic_id),
              unit.availability == Availability::online ? kOnline : kOffline, Retain::yes);
}

void Gateway::Worker::check_ages() {
  const SteadyClock::time_point now = options_.clock();
  for (Unit& unit : units_) {
    const SteadyClock::time_point since = unit.last_completed.value_or(started_at_);
    if (unit.availability != Availability::offline && now - since > options_.offline_after) {
      unit.availability = Availability::offline;
      if (online_) {
        publish_availability(unit);
      }
    }
  }
}

void Gateway::Worker::republish_some() {
  std::size_t& next = *republish_next_;
  for (std::size_t done = 0; done < kUnitsPerPass && next < units_.size(); ++done, ++next) {
    if (!republish_unit(units_[next])) {
      return;  // the connection ended: the next connection starts again
    }
  }
  if (next == units_.size()) {
    republish_next_.reset();
    backfill_pending_ = options_.history != nullptr;
  }
}

bool Gateway::Worker::republish_unit(Unit& unit) {
  for (const DiscoveryMessage& message : discovery_messages(topics_, options_.broker.base_topic,
                                                            unit.identity, {options_.read_only})) {
    if (!send(message.topic, message.payload, Retain::yes)) {
      return false;
    }
  }
  if (!publish_availability(unit)) {
    return false;
  }
  // An offline unit's values stay as they were: never published as fresh.
  if (unit.availability != Availability::online || !unit.has_current) {
    return publish_link(unit);
  }
  return publish_state(unit, unit.current, unit.current_time, true);
}

void Gateway::Worker::backfill_some() {
  for (std::size_t looked = 0; looked < units_.size(); ++looked) {
    Unit& unit = units_[backfill_next_];
    const MissedRecords::Gap* gap = unit.missed.oldest();
    if (gap == nullptr) {
      backfill_next_ = (backfill_next_ + 1) % units_.size();
      continue;
    }
    const std::string topic = topics_.backfill(unit.identity.topic_id);
    std::size_t published = 0;
    bool stopped = false;
    std::optional<RecordTime> last;
    const auto visit = [&](const RecordTime& time, const Json::Value& document) {
      if (published == kRecordsPerPass ||
          !send(topic, document_text(extract_values(document), time), Retain::no)) {
        stopped = true;
        return false;
      }
      ++published;
      ++backfilled_;
      last = time;
      return true;
    };
    try {
      options_.history(unit.identity.data_id, gap->from, gap->before, visit);
    } catch (const std::exception& error) {
      if (options_.notice) {
        options_.notice("mqtt: unit " + unit.identity.name +
                        ": stored records cannot be read for backfill: " + error.what());
      }
      stopped = false;
    }
    if (!stopped) {
      unit.missed.finish_oldest();
    } else if (last) {
      unit.missed.published_through(*last);
    }
    return;
  }
  backfill_pending_ = false;
}

void Gateway::Worker::handle_set(const SetMessage& message) {
  const SetTopic* topic = find_set_topic(message.word);
  if (topic == nullptr) {
    refuse(message.unit, message.word, "no such command");
    return;
  }
  if (options_.read_only) {
    refuse(message.unit, message.word, "the bridge is read-only");
    return;
  }
  const SetParse parsed = parse_set_payload(*topic, message.payload);
  if (!parsed.request) {
    refuse(message.unit, message.word, parsed.refusal);
    return;
  }
  CommandRequest request;
  request.unit = message.unit;
  request.command = parsed.request->command;
  request.value = parsed.request->value;
  request.word = message.word;
  ++commands_;
  std::weak_ptr<OutcomeBox> box = outcomes_box_;
  options_.on_command(request, [box, request](const CommandResult& result) {
    if (const auto owner = box.lock()) {
      const std::lock_guard<std::mutex> lock(owner->mutex);
      if (owner->deliver) {
        owner->deliver({request.unit, request.word, request.value, result});
      }
    }
  });
}

void Gateway::Worker::refuse(std::size_t unit, const std::string& word, const std::string& why) {
  ++refused_;
  if (online_) {
    send(topics_.result(units_[unit].identity.topic_id),
         outcome_payload({
             unit, word, std::nullopt, {false, "refused: " + why}
    }),
         Retain::no);
  }
}

bool Gateway::Worker::send(const std::string& topic, std::string_view payload, Retain retain) {
  return link_->publish(topic, payload, retain);
}

Gateway::Gateway(GatewayOptions options) : worker_(std::make_unique<Worker>(std::move(options))) {}

Gateway::~Gateway() { stop(); }

void Gateway::start() { worker_->start(); }

void Gateway::stop() { worker_->stop(); }

void Gateway::cycle_completed(std::size_t unit, const Json::Value& document,
                              const LinkFigures& link) {
  worker_->cycle_completed(unit, document, link);
}

void Gateway::cycle_failed(std::size_t unit, const LinkFigures& link) {
  worker_->cycle_failed(unit, link);
}

GatewayCounts Gateway::counts() const { return worker_->counts(); }

}  // namespace velmocair::mqtt

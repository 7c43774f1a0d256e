// The web server of tova view.
#include "viewer_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "args.h"
#include "errors.h"
#include "picture.h"
#include "recording.h"
#include "records.h"

namespace fs = std::filesystem;

namespace tova_cli {
namespace {

constexpr size_t kKeptSeries = 16;         // series kept for the page; the oldest finished one goes first
constexpr int kPaletteSteps = 1024;        // entries of the palette table the page colours with
constexpr int kLongestWaitSeconds = 60;    // a waiting series request answers after this at the latest

// ---- JSON ------------------------------------------------------------------

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "\\u%04x", c);
          out += code;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Json(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

std::string Json(const std::vector<float>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) out += ',';
    out += Json(double{values[i]});
  }
  return out + "]";
}

// A failure answered to the page: status and message.
struct HttpError {
  int status;
  std::string message;
};

void SendJson(httplib::Response& res, const std::string& body, int status = 200) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(body, "application/json; charset=utf-8");
}

void SendError(httplib::Response& res, int status, const std::string& message) {
  SendJson(res, "{\"error\":" + Json(message) + "}", status);
}

// ---- request values ----------------------------------------------------------

uint32_t NumberParam(const httplib::Request& req, const char* name, uint64_t max_value) {
  if (!req.has_param(name)) throw HttpError{400, std::string("missing parameter '") + name + "'"};
  const std::string text = req.get_param_value(name);
  const auto value = ParseUnsigned(text, max_value);
  if (!value) throw HttpError{400, std::string("parameter '") + name + "' must be a whole number, not '" + text + "'"};
  return static_cast<uint32_t>(*value);
}

// ---- series over the whole recording -----------------------------------------

struct Series {
  int id = 0;
  bool rectangle = false;
  uint32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // inclusive corners; a spot has x0 == x1, y0 == y1
  std::atomic<uint32_t> done{0};
  bool finished = false;  // guarded by the state's mutex, as are the results once set
  std::string error;
  std::vector<float> min, mean, max;
  std::thread worker;
};

}  // namespace

struct ViewerServer::State {
  State(Recording& r, std::string info) : rec(r), info_text(std::move(info)) {}

  Recording& rec;
  std::string info_text;
  httplib::Server server;
  int port = 0;

  std::mutex mutex;
  std::condition_variable changed;
  std::map<int, std::unique_ptr<Series>> series;
  int next_id = 1;
  std::atomic<bool> stopping{false};

  void Routes();
  bool HostAllowed(const httplib::Request& req) const;
  std::string InfoJson() const;
  std::string FrameJson(uint32_t frame);
  uint32_t Frame(const httplib::Request& req) const;
  std::string SeriesJson(const Series& s) const;
  int StartSeries(const httplib::Request& req);
  void Compute(Series* s);
  void JoinAll();
};

bool ViewerServer::State::HostAllowed(const httplib::Request& req) const {
  // Only names of this machine: a page of another site that a name resolves
  // to 127.0.0.1 for must not read the recording.
  const std::string host = req.get_header_value("Host");
  const std::string suffix = ":" + std::to_string(port);
  for (const char* name : {"127.0.0.1", "localhost"})
    if (host == name || host == name + suffix) return true;
  return false;
}

std::string ViewerServer::State::InfoJson() const {
  std::string times = "[", seconds = "[";
  const auto& ms = rec.times();
  const int64_t first = ms.empty() ? kNoTime : ms.front();
  const double rate = rec.frame_rate() > 0 ? rec.frame_rate() : 10.0;
  for (size_t i = 0; i < ms.size(); ++i) {
    if (i) times += ',', seconds += ',';
    times += ms[i] == kNoTime ? "null" : std::to_string(ms[i]);
    // The plot's time axis: seconds from the first stamp, else from the frame rate.
    seconds += Json(ms[i] != kNoTime && first != kNoTime ? (ms[i] - first) / 1000.0 : i / rate);
  }
  std::string out = "{";
  out += "\"file\":" + Json(fs::path(rec.path()).filename().string());
  out += ",\"frames\":" + std::to_string(rec.frames());
  out += ",\"width\":" + std::to_string(rec.width());
  out += ",\"height\":" + std::to_string(rec.height());
  out += ",\"dataUnit\":" + Json(DataUnitName(rec.data_unit()));
  out += ",\"celsius\":" + std::string(rec.celsius() ? "true" : "false");
  out += ",\"frameRate\":" + Json(rec.frame_rate() > 0 ? rec.frame_rate() : NAN);
  if (rec.display_scale())
    out += ",\"displayScale\":[" + Json(rec.display_scale()->first) + "," + Json(rec.display_scale()->second) + "]";
  else
    out += ",\"displayScale\":null";
  out += ",\"info\":" + Json(info_text);
  out += ",\"times\":" + times + "]";
  out += ",\"seconds\":" + seconds + "]";
  return out + "}";
}

uint32_t ViewerServer::State::Frame(const httplib::Request& req) const {
  const std::string text = req.matches[1];
  const auto frame = ParseUnsigned(text, UINT32_MAX);
  if (!frame || *frame >= rec.frames())
    throw HttpError{404, "frame " + text + " does not exist: the recording holds frames 0 to " +
                             std::to_string(rec.frames() - 1)};
  return static_cast<uint32_t>(*frame);
}

std::string ViewerServer::State::FrameJson(uint32_t frame) {
  const int64_t ms = rec.times()[frame];
  std::string out = "{\"frame\":" + std::to_string(frame);
  out += ",\"time\":" + (ms == kNoTime ? std::string("null") : std::to_string(ms));
  out += ",\"timeText\":" + Json(TimeText(ms));
  out += ",\"sections\":[";
  bool first_section = true;
  for (const Recording::Section& section : rec.Entries(frame)) {
    if (!first_section) out += ',';
    first_section = false;
    out += "{\"name\":" + Json(section.name) + ",\"entries\":[";
    for (size_t i = 0; i < section.entries.size(); ++i) {
      if (i) out += ',';
      out += "{\"name\":" + Json(section.entries[i].name) + ",\"data\":" + Json(section.entries[i].data) + "}";
    }
    out += "]}";
  }
  return out + "]}";
}

std::string ViewerServer::State::SeriesJson(const Series& s) const {
  std::string out = "{\"id\":" + std::to_string(s.id);
  out += ",\"kind\":" + Json(s.rectangle ? "rectangle" : "spot");
  out += ",\"x0\":" + std::to_string(s.x0) + ",\"y0\":" + std::to_string(s.y0);
  out += ",\"x1\":" + std::to_string(s.x1) + ",\"y1\":" + std::to_string(s.y1);
  out += ",\"done\":" + std::to_string(s.done.load()) + ",\"total\":" + std::to_string(rec.frames());
  out += ",\"finished\":" + std::string(s.finished ? "true" : "false");
  if (!s.error.empty()) out += ",\"error\":" + Json(s.error);
  if (s.finished && s.error.empty()) {
    if (s.rectangle) {
      out += ",\"min\":" + Json(s.min) + ",\"mean\":" + Json(s.mean) + ",\"max\":" + Json(s.max);
    } else {
      out += ",\"value\":" + Json(s.mean);
    }
  }
  return out + "}";
}

int ViewerServer::State::StartSeries(const httplib::Request& req) {
  auto s = std::make_unique<Series>();
  const uint32_t w = rec.width(), h = rec.height();
  auto inside = [&](uint32_t x, uint32_t y, const char* what) {
    if (x >= w || y >= h)
      throw HttpError{400, std::string(what) + " (" + std::to_string(x) + ", " + std::to_string(y) +
                               ") lies outside the " + std::to_string(w) + " x " + std::to_string(h) + " image"};
  };
  if (req.has_param("x0") || req.has_param("x1")) {
    s->rectangle = true;
    const uint32_t ax = NumberParam(req, "x0", UINT32_MAX), ay = NumberParam(req, "y0", UINT32_MAX);
    const uint32_t bx = NumberParam(req, "x1", UINT32_MAX), by = NumberParam(req, "y1", UINT32_MAX);
    inside(ax, ay, "the corner");
    inside(bx, by, "the corner");
    s->x0 = std::min(ax, bx), s->x1 = std::max(ax, bx), s->y0 = std::min(ay, by), s->y1 = std::max(ay, by);
  } else {
    s->x0 = s->x1 = NumberParam(req, "x", UINT32_MAX);
    s->y0 = s->y1 = NumberParam(req, "y", UINT32_MAX);
    inside(s->x0, s->y0, "the spot");
  }

  std::unique_lock<std::mutex> lock(mutex);
  if (series.size() >= kKeptSeries) {
    auto oldest = std::find_if(series.begin(), series.end(), [](const auto& e) { return e.second->finished; });
    if (oldest == series.end()) throw HttpError{503, "too many series are being computed; try again when one is done"};
    oldest->second->worker.join();
    series.erase(oldest);
  }
  s->id = next_id++;
  Series* raw = s.get();
  series.emplace(raw->id, std::move(s));
  raw->worker = std::thread([this, raw] { Compute(raw); });
  return raw->id;
}

// One pass over the recording: each frame is read and converted once.
void ViewerServer::State::Compute(Series* s) {
  const uint32_t frames = rec.frames(), w = rec.width();
  std::vector<float> lo(s->rectangle ? frames : 0, NAN), mean(frames, NAN), hi(s->rectangle ? frames : 0, NAN);
  std::string error;
  try {
    for (uint32_t f = 0; f < frames && !stopping; ++f) {
      const std::vector<float> values = rec.Values(f);
      double sum = 0, low = INFINITY, high = -INFINITY;
      size_t count = 0;
      for (uint32_t y = s->y0; y <= s->y1; ++y)
        for (uint32_t x = s->x0; x <= s->x1; ++x) {
          const double v = values[size_t{y} * w + x];
          if (!std::isfinite(v)) continue;
          sum += v, ++count;
          low = std::min(low, v), high = std::max(high, v);
        }
      if (count) {
        mean[f] = static_cast<float>(sum / static_cast<double>(count));
        if (s->rectangle) lo[f] = static_cast<float>(low), hi[f] = static_cast<float>(high);
      }
      s->done = f + 1;
    }
    if (stopping) error = "the viewer stopped";
  } catch (const CliError& e) {
    error = e.what();
  } catch (const std::bad_alloc&) {
    error = "out of memory";
  }
  std::lock_guard<std::mutex> lock(mutex);
  s->min = std::move(lo), s->mean = std::move(mean), s->max = std::move(hi);
  s->error = error;
  s->finished = true;
  changed.notify_all();
}

void ViewerServer::State::JoinAll() {
  stopping = true;
  std::map<int, std::unique_ptr<Series>> all;
  {
    std::lock_guard<std::mutex> lock(mutex);
    all.swap(series);
  }
  for (auto& [id, s] : all)
    if (s->worker.joinable()) s->worker.join();
}

void ViewerServer::State::Routes() {
  using httplib::Request;
  using httplib::Response;
  // Every handler answers failures as JSON: the server keeps running.
  auto guard = [](auto handler) {
    return [handler](const Request& req, Response& res) {
      try {
        handler(req, res);
      } catch (const HttpError& e) {
        SendError(res, e.status, e.message);
      } catch (const CliError& e) {
        SendError(res, 500, e.what());
      } catch (const std::bad_alloc&) {
        SendError(res, 500, "out of memory");
      }
    };
  };

  server.set_pre_routing_handler([this](const Request& req, Response& res) {
    if (!HostAllowed(req)) {
      SendError(res, 403, "this server answers only requests for 127.0.0.1 or localhost");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_error_handler([](const Request& req, Response& res) {
    if (res.body.empty()) SendError(res, res.status, "nothing here: " + req.method + " " + req.path);
  });
  server.set_exception_handler([](const Request&, Response& res, std::exception_ptr) {
    SendError(res, 500, "the request failed");
  });
  server.set_payload_max_length(1 << 16);
  // A port another program listens on is in use: no SO_REUSEPORT sharing.
  server.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  // The page: only the embedded files, never anything from the disk.
  for (size_t i = 0; i < kViewerAssetCount; ++i) {
    const ViewerAsset* asset = &kViewerAssets[i];
    server.Get(asset->path, [asset](const Request&, Response& res) {
      res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->type);
    });
  }

  server.Get("/api/info", guard([this](const Request&, Response& res) { SendJson(res, InfoJson()); }));

  server.Get("/api/palette", [](const Request&, Response& res) {
    std::string rgb;
    for (int i = 0; i < kPaletteSteps; ++i) {
      const Rgb c = PaletteColour(static_cast<double>(i) / (kPaletteSteps - 1));
      rgb += {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
    }
    res.set_content(rgb, "application/octet-stream");
  });

  server.Get(R"(/api/frames/([^/]+))",
             guard([this](const Request& req, Response& res) { SendJson(res, FrameJson(Frame(req))); }));

  server.Get(R"(/api/frames/([^/]+)/values)", guard([this](const Request& req, Response& res) {
               const uint32_t frame = Frame(req);
               const std::vector<float> values = rec.Values(frame);
               res.set_header("Cache-Control", "no-store");
               res.set_header("X-Tova-Width", std::to_string(rec.width()));
               res.set_header("X-Tova-Height", std::to_string(rec.height()));
               res.set_content(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float),
                               "application/octet-stream");
             }));

  server.Get(R"(/api/frames/([^/]+)/pixel)", guard([this](const Request& req, Response& res) {
               const uint32_t frame = Frame(req);
               const uint32_t x = NumberParam(req, "x", UINT32_MAX), y = NumberParam(req, "y", UINT32_MAX);
               if (x >= rec.width() || y >= rec.height())
                 throw HttpError{400, "the pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                                          ") lies outside the " + std::to_string(rec.width()) + " x " +
                                          std::to_string(rec.height()) + " image"};
               const std::vector<float> values = rec.Values(frame);
               SendJson(res, "{\"frame\":" + std::to_string(frame) + ",\"x\":" + std::to_string(x) +
                                 ",\"y\":" + std::to_string(y) +
                                 ",\"value\":" + Json(double{values[size_t{y} * rec.width() + x]}) + "}");
             }));

  server.Post("/api/series", guard([this](const Request& req, Response& res) {
                const int id = StartSeries(req);
                std::lock_guard<std::mutex> lock(mutex);
                SendJson(res, SeriesJson(*series.at(id)), 202);
              }));

  server.Get(R"(/api/series/(\d{1,9}))", guard([this](const Request& req, Response& res) {
               const int id = std::stoi(req.matches[1]);
               std::unique_lock<std::mutex> lock(mutex);
               auto found = [&]() -> Series* {
                 const auto it = series.find(id);
                 return it == series.end() ? nullptr : it->second.get();
               };
               if (!found()) throw HttpError{404, "no series " + std::to_string(id)};
               // ?wait=1 answers when the series is finished, for scripts that need no progress.
               if (req.has_param("wait"))
                 changed.wait_for(lock, std::chrono::seconds(kLongestWaitSeconds),
                                  [&] { return !found() || found()->finished || stopping; });
               if (!found()) throw HttpError{404, "no series " + std::to_string(id)};
               SendJson(res, SeriesJson(*found()));
             }));

  server.Delete(R"(/api/series/(\d{1,9}))", guard([this](const Request& req, Response& res) {
                  const int id = std::stoi(req.matches[1]);
                  std::unique_ptr<Series> gone;
                  {
                    std::lock_guard<std::mutex> lock(mutex);
                    const auto it = series.find(id);
                    if (it == series.end()) throw HttpError{404, "no series " + std::to_string(id)};
                    if (!it->second->finished) throw HttpError{409, "series " + std::to_string(id) + " is not finished"};
                    gone = std::move(it->second);
                    series.erase(it);
                  }
                  gone->worker.join();
                  SendJson(res, "{}");
                }));
}

ViewerServer::ViewerServer(Recording& recording, std::string info_text)
    : state_(std::make_unique<State>(recording, std::move(info_text))) {
  state_->Routes();
}

ViewerServer::~ViewerServer() {
  Stop();
  state_->JoinAll();
}

int ViewerServer::Bind(int port) {
  if (port == 0) {
    port = state_->server.bind_to_any_port("127.0.0.1");
    if (port <= 0) throw CliError("cannot listen on 127.0.0.1: no free port");
  } else if (!state_->server.bind_to_port("127.0.0.1", port)) {
    throw CliError("cannot listen on 127.0.0.1:" + std::to_string(port) +
                   ": the port is in use or not allowed (choose another with --port, or --port 0 for any free one)");
  }
  state_->port = port;
  return port;
}

void ViewerServer::Run() { state_->server.listen_after_bind(); }

void ViewerServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
    state_->changed.notify_all();
  }
  state_->server.stop();
}

}  // namespace tova_cli

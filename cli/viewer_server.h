// The web server of tova view: the page and its scripts (embedded in the
// tool at build time) and the JSON and binary endpoints over one recording,
// on 127.0.0.1 only. The endpoints are described in VIEWER.md.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tova_cli {

class Recording;

// A file of the page, embedded at build time (viewer_assets.cpp).
struct ViewerAsset {
  const char* path;  // "/", "/viewer.js", ...
  const char* type;  // its content type
  const unsigned char* data;
  size_t size;
};
extern const ViewerAsset kViewerAssets[];
extern const size_t kViewerAssetCount;

class ViewerServer {
 public:
  // info_text: what "tova info" shows for the recording.
  ViewerServer(Recording& recording, std::string info_text);
  ~ViewerServer();
  ViewerServer(const ViewerServer&) = delete;
  ViewerServer& operator=(const ViewerServer&) = delete;

  // Binds 127.0.0.1:port (0: a free port chosen by the system) and returns
  // the port; CliError when the port is in use or not allowed.
  int Bind(int port);
  // Answers requests until Stop(); runs on the calling thread.
  void Run();
  // Ends Run() and the series still being computed; any thread.
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tova_cli

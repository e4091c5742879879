#pragma once
// Builders for the updater tests: install trees, archives (including hostile ones), signatures
// and a byte-level picture of a tree to prove that a failed install changed nothing.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <sodium.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/updater/UpdateTransport.hpp"

namespace kestrane::updater::testing {
namespace fs = std::filesystem;

inline std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFile(const fs::path& path, const std::string& text, bool executable = false) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
  if (executable) fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
}

// A private folder for one test, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    auto base = fs::temp_directory_path() / "kestrane-updater-XXXXXX";
    std::string pattern = base.string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct ArchiveEntry {
  std::string path;
  std::string content;  // regular files
  bool directory = false;
  std::string symlinkTarget;  // non-empty: a link
  bool executable = false;
};

inline void writeZip(const fs::path& zip, const std::vector<ArchiveEntry>& entries) {
  archive* out = archive_write_new();
  archive_write_set_format_zip(out);
  ASSERT_EQ(archive_write_open_filename(out, zip.c_str()), ARCHIVE_OK);
  for (const auto& item : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, item.path.c_str());
    if (item.directory) {
      archive_entry_set_filetype(entry, AE_IFDIR);
      archive_entry_set_perm(entry, 0755);
    } else if (!item.symlinkTarget.empty()) {
      archive_entry_set_filetype(entry, AE_IFLNK);
      archive_entry_set_symlink(entry, item.symlinkTarget.c_str());
      archive_entry_set_perm(entry, 0777);
    } else {
      archive_entry_set_filetype(entry, AE_IFREG);
      archive_entry_set_perm(entry, item.executable ? 0755 : 0644);
      archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size()));
    }
    archive_write_header(out, entry);
    if (!item.content.empty()) archive_write_data(out, item.content.data(), item.content.size());
    archive_entry_free(entry);
  }
  archive_write_close(out);
  archive_write_free(out);
}

// The entries of a well-formed update: Kestrane/ with the marker and the program.
inline std::vector<ArchiveEntry> goodBundle(const std::string& program) {
  return {{"Kestrane/", "", true},
          {"Kestrane/.kestrane-bundle", "bundle\n"},
          {"Kestrane/bin/", "", true},
          {"Kestrane/bin/kestrane-app", program, false, "", true},
          {"Kestrane/share/readme.txt", "new version\n"},
          {"Kestrane/lib/current", "", false, "../share/readme.txt"}};
}

struct KeyPair {
  std::string publicBase64;
  std::vector<unsigned char> secret;
};

inline std::string toBase64(const unsigned char* bytes, std::size_t size) {
  std::string text(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);  // the terminating NUL
  return text;
}

inline KeyPair makeKeys() {
  EXPECT_GE(sodium_init(), 0);
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  std::vector<unsigned char> sk(crypto_sign_SECRETKEYBYTES);
  crypto_sign_keypair(pk, sk.data());
  return {toBase64(pk, sizeof pk), sk};
}

inline std::string sign(const fs::path& file, const KeyPair& keys) {
  auto bytes = readAll(file);
  crypto_sign_state state;
  crypto_sign_init(&state);
  crypto_sign_update(&state, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_final_create(&state, signature, nullptr, keys.secret.data());
  return toBase64(signature, sizeof signature);
}

// Every path under a tree with its kind and content (or link target).
inline std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> picture;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    auto rel = it->path().lexically_relative(root).string();
    if (it->is_symlink()) {
      picture[rel] = "link:" + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      picture[rel] = "dir";
    } else {
      picture[rel] = "file:" + readAll(it->path());
    }
  }
  return picture;
}

// The loopback feed server of tests/updater/feed_server.py, with a certificate made here.
class FeedServer {
 public:
  explicit FeedServer(const fs::path& folder) : folder_(folder) {
    cert_ = folder / "cert.pem";
    auto key = folder / "key.pem";
    std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
        "-addext subjectAltName=IP:127.0.0.1 -addext basicConstraints=critical,CA:TRUE "
        "-keyout '" +
        key.string() + "' -out '" + cert_.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return;
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::string script = KESTRANE_UPDATER_TEST_DIR "/feed_server.py";
      execlp("python3", "python3", script.c_str(), cert_.c_str(), key.c_str(), folder.c_str(), nullptr);
      _exit(127);
    }
    close(out[1]);
    std::FILE* stream = fdopen(out[0], "r");
    char line[32] = {};
    if (stream && std::fgets(line, sizeof line, stream)) port_ = std::atoi(line);
    if (stream) std::fclose(stream);
  }
  ~FeedServer() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool running() const { return port_ > 0; }
  std::string url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port_) + path; }
  TransportOptions options() const {
    TransportOptions options;
    options.caFile = cert_.string();
    options.feedTimeout = std::chrono::milliseconds(1500);
    return options;
  }
  const fs::path& folder() const { return folder_; }

 private:
  fs::path folder_, cert_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace kestrane::updater::testing

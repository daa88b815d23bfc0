// Runs the built programs in scratch directories, as a user would, and checks the console, the
// exit status and what is left on disk.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kHtml = HTML2RUXA_PATH;
const std::string kDoc = DOC2RUXA_PATH;
const std::string kHtmlBanner = "--- Ruxa Beta Bramlink 2005 --- \n";
const std::string kDocBanner = "--- Ruxa Bramlink 2005 --- \n";
const std::string kInvalid = "Error, invalid file name!\n";
const std::string kCannotWrite = "Error, cannot write the output file!\n";
const std::string kPrompt = "Press Enter to continue . . . ";

enum class Stdin { Null, Feed, OpenPipe, Terminal };

struct Options {
  std::vector<std::string> args = {};
  Stdin in = Stdin::Null;
  std::string feed = {};                  // with Stdin::Feed
  std::size_t console_limit = SIZE_MAX;   // close the console after this many bytes
  bool unprivileged = false;              // drop root, so that permissions apply
  int seconds = 120;                      // then the program counts as hung and is killed
};

struct Result {
  int status = -1;
  std::string console;
  bool hung = false;
};

Result RunProgram(const std::string& program, const fs::path& dir, const Options& o = {}) {
  int out[2], in[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) abort();
  if ((o.in == Stdin::Feed || o.in == Stdin::OpenPipe) && pipe2(in, O_CLOEXEC) != 0) abort();
  int master = -1;
  std::string terminal;
  if (o.in == Stdin::Terminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) abort();
    terminal = ptsname(master);
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int stdin_fd = o.in == Stdin::Null       ? open("/dev/null", O_RDONLY)
                         : o.in == Stdin::Terminal ? open(terminal.c_str(), O_RDWR)
                                                   : in[0];
    dup2(stdin_fd, 0);
    dup2(out[1], 1);
    if (o.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : o.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  if (in[0] >= 0) close(in[0]);
  if (o.in == Stdin::Feed) {
    if (write(in[1], o.feed.data(), o.feed.size()) != static_cast<ssize_t>(o.feed.size())) abort();
    close(in[1]);
    in[1] = -1;
  }
  Result r;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds);
  bool answered = false;
  for (;;) {
    if (std::chrono::steady_clock::now() > deadline) {
      r.hung = true;
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buf[65536];
    const ssize_t got = read(out[0], buf, sizeof buf);
    if (got <= 0) break;
    r.console.append(buf, static_cast<std::size_t>(got));
    if (r.console.size() >= o.console_limit) break;
    if (master >= 0 && !answered && r.console.ends_with(kPrompt)) {
      answered = write(master, "\n", 1) == 1;
    }
  }
  close(out[0]);
  int status = 0;
  while (!r.hung && waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) r.hung = true;
    usleep(10000);
  }
  if (r.hung) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  } else {
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  if (in[1] >= 0) close(in[1]);
  if (master >= 0) close(master);
  return r;
}

// A batch prints one block per directory entry, in the listing's order: the FICHIER line and
// whatever converting that entry printed. Tests compare the blocks as a set.
std::multiset<std::string> Blocks(const std::string& console) {
  std::multiset<std::string> blocks;
  std::size_t start = 0;
  while (start < console.size()) {
    std::size_t next = console.find("FICHIER: ", start + 1);
    if (next == std::string::npos) next = console.size();
    blocks.insert(console.substr(start, next - start));
    start = next;
  }
  return blocks;
}

std::string Fichier(const std::string& name) {
  return "FICHIER: " + std::to_string(name.size()) + " " + name + "\n";
}

class E2E : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ruxa-e2e-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  void Put(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  std::string Get(const std::string& name) {
    std::ifstream f(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
  }
  std::set<std::string> Names() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }
  // The blocks of a batch, leaving out the entries of files the batch itself wrote: the listing
  // may or may not return those, and when it does they are only listed.
  std::multiset<std::string> BatchBlocks(const std::string& console,
                                         const std::set<std::string>& written) {
    std::multiset<std::string> blocks;
    for (const std::string& block : Blocks(console)) {
      bool skip = false;
      for (const std::string& name : written) skip = skip || block == Fichier(name);
      if (!skip) blocks.insert(block);
    }
    return blocks;
  }

  fs::path dir_;
};

TEST_F(E2E, BatchConvertsEveryMatchingFile) {
  Put("a.htm", "<p>hi</p>");
  Put("b.HTML", "x<br>y");
  Put("c.txt", "<p>no</p>");
  const Result r = RunProgram(kHtml, dir_);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(BatchBlocks(r.console, {"a.htx", "b..htx"}),
            (std::multiset<std::string>{Fichier("."), Fichier(".."),
                                        Fichier("a.htm") + kHtmlBanner + "Size: 9 \n",
                                        Fichier("b.HTML") + kHtmlBanner + "Size: 6 \n",
                                        Fichier("c.txt")}));
  EXPECT_EQ(Get("a.htx"), "Ruxa000000ffffffhi");
  EXPECT_EQ(Get("b..htx"), "Ruxa000000ffffffx\\ny");
  EXPECT_EQ(Names(), (std::set<std::string>{"a.htm", "a.htx", "b.HTML", "b..htx", "c.txt"}));
}

TEST_F(E2E, AnyArgumentCountButTwoMeansBatch) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"x"}, {"x", "y", "z"}}) {
    Put("p.htm", "<b>t</b>");
    const Result r = RunProgram(kHtml, dir_, {.args = args});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(BatchBlocks(r.console, {"p.htx"}),
              (std::multiset<std::string>{Fichier("."), Fichier(".."),
                                          Fichier("p.htm") + kHtmlBanner + "Size: 8 \n"}));
    EXPECT_EQ(Get("p.htx"), "Ruxa000000fffffft");
    fs::remove(dir_ / "p.htx");
  }
}

TEST_F(E2E, SingleModeEchoesTheText) {
  Put("in.txt", "<head>h</head><body text=\"#0000ff\">a<br>b&amp;</body>");
  const Result r = RunProgram(kHtml, dir_, {.args = {"in.txt", "out.bin"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, kHtmlBanner + "Size: 53 \nremoving the headab&");
  EXPECT_EQ(Get("out.bin"), "Ruxa0000ffab&");
}

TEST_F(E2E, EmptyInput) {
  Put("e.htm", "");
  const Result r = RunProgram(kHtml, dir_, {.args = {"e.htm", "e.out"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.console, kHtmlBanner + "Size: 0 \n");
  EXPECT_EQ(Get("e.out"), "Ruxa000000ffffff");
}

TEST_F(E2E, DocumentBatchGoesOnAfterAnInvalidDocument) {
  std::string doc(3000, ' ');
  doc[2095] = 'D';
  doc.replace(10, 7, "\x02\0\xD9\0o\0\x04"s);
  for (const char* name : {"x.doc", "X.DOC", "x.Doc", "x.docx"}) Put(name, doc);
  Put("bad.doc", "short");
  const Result r = RunProgram(kDoc, dir_);
  EXPECT_EQ(r.status, 2);
  const std::string converted = kDocBanner + "Size: 3000 \n";
  EXPECT_EQ(BatchBlocks(r.console, {"x.dox", "X.dox", "bad.dox"}),
            (std::multiset<std::string>{
                Fichier("."), Fichier(".."), Fichier("x.doc") + converted,
                Fichier("X.DOC") + converted, Fichier("x.Doc"), Fichier("x.docx"),
                Fichier("bad.doc") + kDocBanner + "Size: 5 \nInvalid doc file! \n"}));
  EXPECT_EQ(Get("x.dox"), "o");
  EXPECT_EQ(Get("X.dox"), "o");
  EXPECT_EQ(Get("bad.dox"), "");
  EXPECT_EQ(Names().size(), 8u);
}

}  // namespace

namespace {

// Every way a run can fail or be refused, for both programs: the console, the exit status and
// what is left on disk.
TEST_F(E2E, Faults) {
  std::string doc(3000, ' ');
  doc[2095] = 'D';
  doc.replace(10, 5, "\x02\0\xD9\0o"s);
  const std::string page = "<b>x</b>";
  const std::string big(4 << 20, 'z');
  struct Row {
    const char* what;
    const std::string& program;
    std::function<void()> setup;
    Options options;
    std::string console;  // exact, or with `suffix` what the console must end with ("": anything)
    bool suffix;
    int status;
    std::function<void()> check;
  };
  const auto same_as = [&](const std::string& name, const std::string& bytes) {
    return [=, this] { EXPECT_EQ(Get(name), bytes) << name; };
  };
  const auto absent = [&](const std::string& name) {
    return [=, this] { EXPECT_FALSE(fs::exists(dir_ / name)) << name; };
  };
  const auto put = [&](const std::string& name, const std::string& bytes) {
    return [=, this] { Put(name, bytes); };
  };
  const auto put_with_dir = [&](const std::string& name, const std::string& bytes,
                                const std::string& directory) {
    return [=, this] { Put(name, bytes), fs::create_directory(dir_ / directory); };
  };
  const std::string html_ok = kHtmlBanner + "Size: 8 \nx";
  const Row kRows[] = {
      {"missing input", kHtml, [] {}, {.args = {"no.htm", "o.htx"}}, kInvalid, false, 1,
       absent("o.htx")},
      {"missing input", kDoc, [] {}, {.args = {"no.doc", "o.dox"}}, kInvalid, false, 1,
       absent("o.dox")},
      {"input is a directory", kHtml, [&] { fs::create_directory(dir_ / "d.htm"); },
       {.args = {"d.htm", "o.htx"}}, kInvalid, false, 1, absent("o.htx")},
      {"input is a directory", kDoc, [&] { fs::create_directory(dir_ / "d.doc"); },
       {.args = {"d.doc", "o.dox"}}, kInvalid, false, 1, absent("o.dox")},
      {"output in a missing folder", kHtml, put("a.htm", page), {.args = {"a.htm", "no/o.htx"}},
       kInvalid, false, 1, same_as("a.htm", page)},
      {"output in a missing folder", kDoc, put("a.doc", doc), {.args = {"a.doc", "no/o.dox"}},
       kInvalid, false, 1, same_as("a.doc", doc)},
      {"output is a directory", kHtml, put_with_dir("a.htm", page, "o"),
       {.args = {"a.htm", "o"}}, kInvalid, false, 1, same_as("a.htm", page)},
      {"output is a directory", kDoc, put_with_dir("a.doc", doc, "o"), {.args = {"a.doc", "o"}},
       kInvalid, false, 1, same_as("a.doc", doc)},
      {"batch output is a directory", kHtml, put_with_dir("p.htm", page, "p.htx"), {},
       Fichier("p.htm") + "Error!\n", true, 1, same_as("p.htm", page)},
      {"batch output is a directory", kDoc, put_with_dir("x.doc", doc, "x.dox"), {},
       Fichier("x.doc") + kInvalid, true, 1, same_as("x.doc", doc)},
      {"full disk", kHtml, put("a.htm", page), {.args = {"a.htm", "/dev/full"}},
       html_ok + kCannotWrite, false, 1, [] {}},
      {"full disk", kDoc, put("a.doc", doc), {.args = {"a.doc", "/dev/full"}},
       kDocBanner + "Size: 3000 \n" + kCannotWrite, false, 1, [] {}},
      {"output is the input", kHtml, put("a.htm", page), {.args = {"a.htm", "a.htm"}},
       kInvalid, false, 1, same_as("a.htm", page)},
      {"output is the input, spelt otherwise", kHtml, put("a.htm", page),
       {.args = {"a.htm", "./a.htm"}}, kInvalid, false, 1, same_as("a.htm", page)},
      {"output is a hard link to the input", kDoc,
       [&] { Put("a.doc", doc), fs::create_hard_link(dir_ / "a.doc", dir_ / "l.dox"); },
       {.args = {"a.doc", "l.dox"}}, kInvalid, false, 1, same_as("a.doc", doc)},
      {"pipe as the input", kHtml, [] {}, {.args = {"/dev/stdin", "o"}, .in = Stdin::Feed,
       .feed = page}, html_ok, false, 0, same_as("o", "Ruxa000000ffffffx")},
      {"console closes early", kHtml, put("big.htm", big),
       {.args = {"big.htm", "big.out"}, .console_limit = 1}, "", true, 0,
       same_as("big.out", "Ruxa000000ffffff" + big)},
      {"failure with an open pipe as standard input", kHtml, [] {},
       {.args = {"no", "o"}, .in = Stdin::OpenPipe, .seconds = 10}, kInvalid, false, 1,
       absent("o")},
      {"failure at a terminal", kHtml, [] {},
       {.args = {"no", "o"}, .in = Stdin::Terminal, .seconds = 10}, kInvalid + kPrompt, false, 1,
       absent("o")},
      {"unlistable directory", kHtml,
       [&] {
         fs::copy_file(kHtml, dir_ / "html2Ruxa");
         fs::permissions(dir_, fs::perms::owner_write | fs::perms::owner_exec |
                                   fs::perms::group_exec | fs::perms::others_exec);
       },
       {.unprivileged = true}, "Error, cannot list the directory!\n", false, 1, [] {}},
  };
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    fs::permissions(dir_, fs::perms::owner_all);
    for (const auto& e : fs::directory_iterator(dir_)) fs::remove_all(e.path());
    row.setup();
    const std::string program =
        fs::exists(dir_ / "html2Ruxa") ? (dir_ / "html2Ruxa").string() : row.program;
    const Result r = RunProgram(program, dir_, row.options);
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(r.status, row.status);
    if (row.suffix) {
      EXPECT_TRUE(r.console.ends_with(row.console))
          << r.console.substr(0, 200);
    } else {
      EXPECT_EQ(r.console, row.console);
    }
    fs::permissions(dir_, fs::perms::owner_all);
    row.check();
  }
}

// Entries that would be converted onto themselves, and entries that are not regular files, are
// listed and left alone.
TEST_F(E2E, BatchSkipsWhatItMustNotConvert) {
  Put("notes.htx", "<b>keep</b>");
  Put("index..htx", "<b>keep</b>");
  Put("h.htm", "<b>keep</b>");
  fs::create_hard_link(dir_ / "h.htm", dir_ / "h.htx");
  fs::create_directory(dir_ / "d.htm");
  ASSERT_EQ(mkfifo((dir_ / "f.htm").c_str(), 0600), 0);
  const Result r = RunProgram(kHtml, dir_);
  EXPECT_EQ(r.status, 0);
  std::multiset<std::string> expected{Fichier("."), Fichier("..")};
  for (const char* name : {"notes.htx", "index..htx", "h.htm", "h.htx", "d.htm", "f.htm"}) {
    expected.insert(Fichier(name));
  }
  EXPECT_EQ(Blocks(r.console), expected);
  for (const char* name : {"notes.htx", "index..htx", "h.htm"}) EXPECT_EQ(Get(name), "<b>keep</b>");
}

// Sizes past 2 GiB must load whole and count right. Slow, so it runs in CI or on request.
TEST_F(E2E, InputOverTwoGibibytes) {
  if (getenv("CI") == nullptr && getenv("RUXA_SLOW_TESTS") == nullptr) {
    GTEST_SKIP() << "set RUXA_SLOW_TESTS=1 to run";
  }
  const std::uintmax_t size = (std::uintmax_t{5} << 29) + 1;  // 2.5 GiB and a byte
  Put("big.htm", "<p>x</p>");
  fs::resize_file(dir_ / "big.htm", size - 1);
  std::ofstream(dir_ / "big.htm", std::ios::binary | std::ios::app) << "y";
  const Result r = RunProgram(kHtml, dir_, {.seconds = 600});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(BatchBlocks(r.console, {"big.htx"}),
            (std::multiset<std::string>{Fichier("."), Fichier(".."),
                                        Fichier("big.htm") + kHtmlBanner + "Size: " +
                                            std::to_string(size) + " \n"}));
  EXPECT_EQ(Get("big.htx"), "Ruxa000000ffffffxy");
}

}  // namespace

#include "ui/gtk/desktop_launcher.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_util.h"

namespace velmo {
namespace {

using namespace velmo::test;

// What a desktop makes of an Exec value: field codes ("%%" only here) undone,
// then the quoting rules of the shell's double quotes.
std::vector<std::string> parseExec(const std::string& exec) {
  std::string unescaped;
  for (size_t i = 0; i < exec.size(); ++i) {
    unescaped.push_back(exec[i]);
    if (exec[i] == '%' && i + 1 < exec.size() && exec[i + 1] == '%') ++i;
  }
  gchar** argv = nullptr;
  std::vector<std::string> out;
  if (g_shell_parse_argv(unescaped.c_str(), nullptr, &argv, nullptr)) {
    for (gchar** a = argv; *a; ++a) out.push_back(*a);
    g_strfreev(argv);
  }
  return out;
}

TEST(DesktopExec, PlainArgumentsStayBareAndOthersAreQuoted) {
  EXPECT_EQ(desktopExecLine({"/usr/bin/runner", "/games/VELMO/VELMO.exe"}), "/usr/bin/runner /games/VELMO/VELMO.exe");
  EXPECT_EQ(desktopExecArgument("/home/ana/My Games/VELMO.exe"), "\"/home/ana/My Games/VELMO.exe\"");
  EXPECT_EQ(desktopExecArgument("100%"), "100%%");
  EXPECT_EQ(desktopExecArgument(""), "\"\"");
  EXPECT_EQ(desktopExecArgument("a$b"), "\"a\\$b\"");
}

TEST(DesktopExec, EveryArgumentSurvivesTheRoundTrip) {
  std::vector<std::string> argv = {
      "/usr/bin/runner", "/home/ana/My Games/VELMO/VELMO.exe", "it's \"quoted\"", "$HOME`id`", "back\\slash",
      "100% sure %f", "semi;colon&amp|pipe", "~tilde #hash (paren) *star ?q <lt> >gt", "snow ❄ 雪", "",
      "tab\there"};
  EXPECT_EQ(parseExec(desktopExecLine(argv)), argv);
}

TEST(DesktopLauncherFile, KeysReadBackAsWritten) {
  DesktopLauncher l;
  l.name = "VELMO";
  l.comment = "Harrowmere for Windows";
  l.command = {"/usr/bin/runner", "/srv/My Games\\VELMO/VELMO.exe"};
  l.workingFolder = "/srv/My Games\\VELMO";
  std::string text = desktopLauncherText(l);

  GKeyFile* file = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_data(file, text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) << text;
  auto get = [&](const char* key) {
    gchar* v = g_key_file_get_string(file, "Desktop Entry", key, nullptr);
    std::string s = v ? v : "(none)";
    g_free(v);
    return s;
  };
  EXPECT_EQ(get("Type"), "Application");
  EXPECT_EQ(get("Name"), "VELMO");
  EXPECT_EQ(get("Comment"), "Harrowmere for Windows");
  EXPECT_EQ(get("Path"), l.workingFolder);
  EXPECT_EQ(get("Terminal"), "false");
  // Two levels of escaping: the key file's, then the Exec quoting.
  EXPECT_EQ(parseExec(get("Exec")), l.command);
  g_key_file_free(file);
}

TEST(DesktopLauncherFile, WrittenExecutableIntoANewFolderAndReplaced) {
  TempDir dir;
  std::string desktop = dir / "home/Desktop";
  DesktopLauncher l;
  l.name = "VELMO";
  l.command = {"xdg-open", "/games/VELMO"};
  ASSERT_TRUE(writeDesktopLauncher(desktop, kDesktopLauncherFileName, l));
  std::string path = desktop + "/VELMO.desktop";
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_EQ(readText(path), desktopLauncherText(l));

  l.command = {"/usr/bin/runner", "/games/VELMO/VELMO.exe"};
  ASSERT_TRUE(writeDesktopLauncher(desktop, kDesktopLauncherFileName, l));
  EXPECT_EQ(readText(path), desktopLauncherText(l));

  // A folder that cannot be made (below a file) fails cleanly.
  writeText(dir / "plain-file", "x");
  EXPECT_FALSE(writeDesktopLauncher(dir / "plain-file/Desktop", kDesktopLauncherFileName, l));
}

TEST(HandlerCommand, FieldCodesOfTheHandlersExecLine) {
  const std::string exe = "/home/ana/My Games/VELMO/VELMO.exe";
  using Argv = std::vector<std::string>;
  EXPECT_EQ(handlerCommand("runner start /unix %f", exe), (Argv{"runner", "start", "/unix", exe}));
  EXPECT_EQ(handlerCommand("/opt/r/run %U --icon %i %c %k", exe), (Argv{"/opt/r/run", exe, "--icon"}));
  EXPECT_EQ(handlerCommand("run --file=%f --pct=50%%", exe), (Argv{"run", "--file=" + exe, "--pct=50%"}));
  // Only the first file code takes the file; without one it is appended.
  EXPECT_EQ(handlerCommand("run %f %F", exe), (Argv{"run", exe}));
  EXPECT_EQ(handlerCommand("\"/opt/my runner/run\" -x", exe), (Argv{"/opt/my runner/run", "-x", exe}));
  // Unparseable or programless lines give nothing to start.
  EXPECT_EQ(handlerCommand("run \"unclosed", exe), Argv{});
  EXPECT_EQ(handlerCommand("", exe), Argv{});
  EXPECT_EQ(handlerCommand("%f", exe), (Argv{exe}));
  EXPECT_EQ(handlerCommand("%i %f", exe), (Argv{exe}));
}

}  // namespace
}  // namespace velmo

#include <gtest/gtest.h>

#include "app/app_paths.h"
#include "app/command_line.h"

using Kind = CommandLineAction::Kind;

TEST(CommandLine, ActionWordsIgnoreCaseAndExtraItems) {
  EXPECT_EQ(ParseCommandLineAction({L"Kavrin.exe"}).kind, Kind::kNone);
  EXPECT_EQ(ParseCommandLineAction({L"Kavrin.exe", L"/REGISTER", L"x"}).kind, Kind::kRegister);
  EXPECT_EQ(ParseCommandLineAction({L"Kavrin.exe", L"/UnRegister"}).kind, Kind::kUnregister);
  EXPECT_EQ(ParseCommandLineAction({L"Kavrin.exe", L"register"}).kind, Kind::kNone);
  EXPECT_EQ(ParseCommandLineAction({L"Kavrin.exe", L"/register "}).kind, Kind::kNone);
}

TEST(CommandLine, UpdateCarriesItsTargetVerbatim) {
  const auto action =
      ParseCommandLineAction({L"a.exe", L"/Update", L"C:\\Program Files\\Kavrin\\Kavrin.exe"});
  EXPECT_EQ(action.kind, Kind::kUpdate);
  EXPECT_EQ(action.target, L"C:\\Program Files\\Kavrin\\Kavrin.exe");
  EXPECT_EQ(ParseCommandLineAction({L"a.exe", L"/update"}).target, L"");
}

TEST(UpdateCopy, RetriesWithAPauseAfterEveryFailure) {
  int copies = 0, pauses = 0;
  EXPECT_FALSE(CopyWithRetries([&] { return ++copies < 0; }, [&] { ++pauses; }));
  EXPECT_EQ(copies, 10);
  EXPECT_EQ(pauses, 10);

  copies = pauses = 0;
  EXPECT_TRUE(CopyWithRetries([&] { return ++copies == 3; }, [&] { ++pauses; }));
  EXPECT_EQ(copies, 3);
  EXPECT_EQ(pauses, 2);
}

TEST(AppPaths, FoldersEndWithBackslashAndLongPathsAreCut) {
  const auto paths = ComputeAppPaths(L"C:\\Apps\\Kavrin\\Kavrin.exe", L"C:\\windows\\system32");
  EXPECT_EQ(paths.moduleFolder, L"C:\\Apps\\Kavrin\\");
  EXPECT_EQ(paths.systemFolder, L"C:\\windows\\system32\\");

  const std::wstring deep = L"C:\\" + std::wstring(300, L'a') + L"\\Kavrin.exe";
  EXPECT_EQ(ComputeAppPaths(deep, L"C:\\w").modulePath.size(), kMaxPathChars - 1);
}

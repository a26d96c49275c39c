#include "output/output_file.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "chart/command_line.hpp"
#include "support/run_binary.hpp"
#include "support/scratch_folder.hpp"
#include "ticks/driver.hpp"

#ifndef _WIN32
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vellumbrook::output {
namespace {

namespace fs = std::filesystem;

class Output : public ::testing::Test {
  protected:
    fs::path folder =
        fs::temp_directory_path() /
        ("vellumbrook-output-" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    void SetUp() override {
        fs::create_directories(folder);
        std::ofstream(folder / "old.csv", std::ios::binary) << "what was there\n";
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string name(const char* file) const { return (folder / file).string(); }
    void write(const std::string& to, const std::vector<platform::FileId>& inputs = {}) const {
        OutputFile output(to, inputs);
        output.write("new\n");
        output.commit();
    }
};

TEST_F(Output, ReplacesAFileWholeOnlyWhenCommitted) {
    {
        OutputFile output(name("old.csv"), {});
        output.write("half");
    }
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "what was there\n");
    write(name("old.csv"));
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "new\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "a partial file was left behind";
}

TEST_F(Output, RefusesAnInputAndAFolder) {
    const platform::OpenedFile input = platform::openForReading(name("old.csv"));
    const std::optional<platform::FileId> id = platform::idOf(input.file);
    ASSERT_TRUE(id);
    EXPECT_THROW(write(name("old.csv"), {*id}), OutputFileError);
    EXPECT_THROW(write(folder.string()), OutputFileError);
#ifdef _WIN32
    // A read-only file is refused, as cmd.exe's "> name" refuses it.
    fs::permissions(folder / "old.csv",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_THROW(write(name("old.csv")), OutputFileError);
    fs::permissions(folder / "old.csv", fs::perms::owner_write, fs::perm_options::add);
#endif
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "what was there\n");
#ifndef _WIN32
    // The name reaches the terminal with its control bytes escaped.
    fs::create_directory(folder / "a\x1b[2J");
    try {
        write(name("a\x1b[2J"));
        ADD_FAILURE() << "a folder was written";
    } catch (const OutputFileError& error) {
        EXPECT_EQ(std::string(error.what()),
                  name("a\\x1b[2J") + ": cannot be written: it is a folder");
    }
#endif
}

#ifndef _WIN32
TEST_F(Output, KeepsPermissionsAndWritesThroughALink) {
    fs::permissions(folder / "old.csv", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("old.csv", folder / "link.csv");
    write(name("link.csv"));
    EXPECT_TRUE(fs::is_symlink(folder / "link.csv"));
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "new\n");
    EXPECT_EQ(fs::status(folder / "old.csv").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(Output, WritesADeviceDirectly) {
    write("/dev/null");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// A program run in a forked child, its standard input and output pipes whose other ends the
// test holds, its messages in a file.
struct Child {
    pid_t pid = -1;
    int input = -1;   // written by the test; closed to end the input
    int output = -1;  // read by the test
    std::FILE* messages = std::tmpfile();

    template <typename Program>
    explicit Child(Program program) {
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) {
            return;
        }
        pid = ::fork();
        if (pid == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            for (const int fd : {in[0], in[1], out[0], out[1]}) {
                ::close(fd);
            }
            ::alarm(60);  // a hang fails the test
            ::_exit(program(messages));
        }
        ::close(in[0]);
        ::close(out[1]);
        input = in[1];
        output = out[0];
    }
    // Closes the input, reads the output to its end and waits: the exit status, or 128 + the
    // signal that ended the child.
    int end(std::string* written = nullptr) {
        ::close(input);
        std::string text;
        char buffer[4096];
        for (ssize_t got; (got = ::read(output, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(output);
        if (written != nullptr) {
            *written = text;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string said() { return testing::readAndClose(messages); }
};

int runWith(std::vector<std::string> words, std::FILE* messages) {
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    const bool chart = words[0] == "vellumbrook-chart";
    const int argc = static_cast<int>(argv.size());
    return chart ? chart::runChartProgram(argc, argv.data(), stdout, messages)
                 : ticks::runTicksProgram(argc, argv.data(), stdout, messages);
}

const std::string kTicks =
    "EURUSD,20240102 00:00:00.000,1.10345,1.10355\n"
    "EURUSD,20240102 00:00:01.788,1.10346,1.10356\n";

// The names of standard output, and of a descriptor it was given, when that is a pipe:
// written where it stands in both programs that take -o.
TEST_F(Output, NamesOfOpenDescriptorsAreWrittenWhereTheyStand) {
    std::ofstream(folder / "ticks.csv", std::ios::binary) << kTicks;
    std::ofstream(folder / "table.csv", std::ios::binary)
        << "Date,Open,High,Low,Close,ema(3)\nt2,1.5,2.25,1.25,2,1.75\nt1,1,1.5,0.75,1.25,0\n";
    const std::vector<std::string> programs[] = {
        {"vellumbrook-ticks", "--from=truefx", name("ticks.csv")},
        {"vellumbrook-chart", name("table.csv"), "--title=t"}};
    for (const std::vector<std::string>& program : programs) {
        std::vector<std::string> toFile = program;
        toFile.insert(toFile.end(), {"-o", name("file.out")});
        ASSERT_EQ(runWith(toFile, stderr), 0);
        const std::string expected = testing::readFile(folder / "file.out");
        for (const char* output : {"-", "/dev/stdout", "/proc/self/fd/1", "/dev/fd/1"}) {
            std::vector<std::string> words = program;
            words.insert(words.end(), {"-o", output});
            Child child([&](std::FILE* messages) { return runWith(words, messages); });
            std::string written;
            EXPECT_EQ(child.end(&written), 0) << child.said();
            EXPECT_EQ(written, expected) << program[0] << " -o " << output;
        }
    }
}

// What a user other than root meets: a read-only file, a folder without room for new files
// (this one, made by root), and missing folders and readers, each refused with the name of
// what refuses it.
TEST_F(Output, RefusesWhatAShellRefusesAndNamesTheFolderAtFault) {
    const std::string folderName = folder.string();
    ASSERT_EQ(::mkfifo(name("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::chmod(name("fifo").c_str(), 0666), 0);
    const struct {
        std::string output;
        std::string message;
    } cases[] = {
        {name("old.csv"), name("old.csv") + ": cannot be written: Permission denied"},
        {name("new.csv"), name("new.csv") +
                              ": cannot be written: no new file can be made in "
                              "its folder " +
                              folderName + ": Permission denied"},
        {name("none/new.csv"), name("none/new.csv") +
                                   ": cannot be written: no new file can be made in its folder " +
                                   name("none") + ": No such file or directory"},
        {name("fifo"), name("fifo") + ": cannot be written: it is a FIFO that no program reads"},
    };
    const bool root = ::geteuid() == 0;
    if (!root) {
        fs::permissions(folder / "old.csv", fs::perms::owner_read);
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    }
    for (const auto& refused : cases) {
        const std::string& output = refused.output;
        Child child([&](std::FILE*) {
            // Root writes anything; a user it becomes does not.
            if (root &&
                (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
                return 125;
            }
            try {
                write(output);
                return 0;
            } catch (const OutputFileError& error) {
                const std::string_view what = error.what();
                return ::write(1, what.data(), what.size()) < 0 ? 125 : 1;
            }
        });
        std::string said;
        EXPECT_EQ(child.end(&said), 1) << output;
        EXPECT_EQ(said, refused.message);
    }
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "what was there\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

TEST_F(Output, ReplacingAFileKeepsItsOwnerAndGroup) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root may give a file another user";
    }
    ASSERT_EQ(::chown(name("old.csv").c_str(), 65534, 65534), 0);
    write(name("old.csv"));
    struct stat info {};
    ASSERT_EQ(::stat(name("old.csv").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534U);
    EXPECT_EQ(info.st_gid, 65534U);
    EXPECT_EQ(testing::readFile(folder / "old.csv"), "new\n");
}

// A run stopped while it reads, by an interrupt or by a file that may not grow, leaves no
// partial file; an interrupt ends it as the signal does.
TEST_F(Output, AnInterruptOrAFullFileLeavesNoPartialFile) {
    std::string ticks = kTicks;
    for (int second = 10; second < 60; ++second) {
        ticks += "EURUSD,20240102 00:00:" + std::to_string(second) + ".000,1.10345,1.10355\n";
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
        Child child([&](std::FILE* messages) {
            if (signal == SIGXFSZ) {
                const rlimit limit{1000, 1000};  // the messages' file has room
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            return runWith({"vellumbrook-ticks", "--from=truefx", "--candles",
                            "--ticks-per-candle=1", "-", "-o", name("out.csv")},
                           messages);
        });
        ASSERT_EQ(::write(child.input, ticks.data(), ticks.size()),
                  static_cast<ssize_t>(ticks.size()));
        const auto partial = [&] {
            for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
                if (entry.path().filename().string().rfind("out.csv.part-", 0) == 0) {
                    return true;
                }
            }
            return false;
        };
        for (int wait = 0; wait < 2000 && !partial(); ++wait) {
            ::usleep(10000);
        }
        ASSERT_TRUE(partial()) << "the run did not start writing";
        if (signal != SIGXFSZ) {
            ::kill(child.pid, signal);
            EXPECT_EQ(child.end(), 128 + signal);
            EXPECT_EQ(child.said(), "");
        } else {
            EXPECT_EQ(child.end(), 1);
            EXPECT_EQ(child.said(), "vellumbrook-ticks: " + name("out.csv") +
                                        ": cannot be written: File too large\n");
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
            << "signal " << signal;
    }
}
#endif

}  // namespace
}  // namespace vellumbrook::output

// The player's command line, the numbers of the slave commands and the answer lines.
#include <gtest/gtest.h>

#include <cmath>

#include "viewer/video/mplayer_logic.h"

namespace qvl {
namespace {

TEST(MPlayerCommandLine, KeepsItsOrderQuotesPathsWithABlankAndAddsNoSoundTwice) {
  TCommandLineOptions o;
  o.playerProgram = "/opt/my player/mplayer";
  o.windowId = 4194307;
  o.sound = false;
  o.fontPath = "/usr/share/fonts/DejaVuSans.ttf";
  o.reIndex = true;
  o.audioOut = TMPlayerAudioOut::maoNoSound;
  o.aspect = TMPlayerAspect::mpa160_90;
  o.params = "-fs  -loop 0";
  o.mediaAddr = "/rides/helmet cam.mp4";
  const TCommandLine c = BuildCommandLine(o);
  EXPECT_EQ(c.text,
            "\"/opt/my player/mplayer\" -vo xv,x11, -quiet -slave -identify -nolirc -wid 4194307"
            " -colorkey 0x101010 -nokeepaspect -framedrop -autosync 100 -zoom -nosound -font"
            " /usr/share/fonts/DejaVuSans.ttf -idx -nosound -aspect 16:9 -fs  -loop 0"
            " \"/rides/helmet cam.mp4\"");
  EXPECT_EQ(c.program, "/opt/my player/mplayer");
  ASSERT_GE(c.arguments.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(c.arguments.end() - 4, c.arguments.end()),
            (std::vector<std::string>{"-fs", "-loop", "0", "/rides/helmet cam.mp4"}));

  TCommandLineOptions plain;
  plain.mediaAddr = "/rides/a.mp4";
  const TCommandLine p = BuildCommandLine(plain);
  const std::string tail = " -autosync 100 -zoom -ao pulse,alsa,sdl,oss,null /rides/a.mp4";
  EXPECT_EQ(p.text.substr(p.text.size() - tail.size()), tail);
  plain.audioOut = TMPlayerAudioOut::maoDsSound;
  plain.aspect = TMPlayerAspect::mpa235_10;
  EXPECT_NE(BuildCommandLine(plain).text.find(" -ao alsa,pulse,sdl,oss,null -aspect 2.35:1 "),
            std::string::npos);
  plain.audioOut = TMPlayerAudioOut::maoNull;
  plain.aspect = TMPlayerAspect::mpa40_30;
  EXPECT_NE(BuildCommandLine(plain).text.find(" -ao null -aspect 4:3 "), std::string::npos);
}

TEST(MPlayerCommandLine, AVideoNameIsNeverReadAsAnOption) {
  TCommandLineOptions o;
  for (const std::string name : {"-dumpfile=/tmp/x", "ride\n-dumpfile=/tmp/x.mp4"}) {
    o.mediaAddr = name;
    const TCommandLine c = BuildCommandLine(o);
    EXPECT_EQ(c.arguments.back(), name[0] == '-' ? "./" + name : name);
    for (size_t i = 0; i + 1 < c.arguments.size(); ++i)
      EXPECT_EQ(c.arguments[i].find("dumpfile"), std::string::npos) << c.arguments[i];
  }
}

TEST(MPlayerNumbers, SlaveCommandNumbersAndAnswerNumbers) {
  EXPECT_EQ(FormatPlayerNumber(1.5), "+1.50");
  EXPECT_EQ(FormatPlayerNumber(-0.05), "-0.05");
  EXPECT_EQ(FormatPlayerNumber(0), "+0.00");
  EXPECT_EQ(FormatPlayerNumber(-0.004), "+0.00");
  EXPECT_EQ(FormatPlayerNumber(1234.567), "+1234.57");
  EXPECT_EQ(FormatPlayerNumber(std::nan("")), "+0.00");

  double v = 7;
  EXPECT_TRUE(ParsePlayerNumber(" 10.126\r", v));
  EXPECT_DOUBLE_EQ(v, 10.13);
  EXPECT_TRUE(ParsePlayerNumber("-3", v));
  EXPECT_DOUBLE_EQ(v, -3);
  for (const char* bad : {"", "1,5", "abc", "1.5x", "inf", "nan", "1e400"}) {
    v = 7;
    EXPECT_FALSE(ParsePlayerNumber(bad, v)) << bad;
    EXPECT_EQ(v, 7);
  }
}

struct ParserFixture : ::testing::Test {
  TMediaPropList props;
  TAnswerParser parser{props};
  std::vector<int> changes;
  void SetUp() override {
    props.onChange = [this](int i) { changes.push_back(i); };
  }
};

TEST_F(ParserFixture, AnswersSetThePlaybackState) {
  EXPECT_EQ(parser.Dispatch("ans_time_position=3"), TAnswerEvent::aeTimePosition);
  EXPECT_EQ(parser.State().timePos, 3);
  EXPECT_EQ(parser.Dispatch("ANS_PERCENT_POSITION=49.6"), TAnswerEvent::aePercentPosition);
  EXPECT_EQ(parser.State().percentPos, 50);
  EXPECT_EQ(parser.Dispatch("ANS_MUTE="), TAnswerEvent::aeNone);
  EXPECT_EQ(parser.Dispatch("ANS_MUTE=yes"), TAnswerEvent::aeMute);
  EXPECT_TRUE(parser.State().muted);
  EXPECT_EQ(parser.Dispatch("ANS_MUTE=no"), TAnswerEvent::aeMute);
  EXPECT_FALSE(parser.State().muted);
  EXPECT_EQ(parser.Dispatch("ANS_speed=0.33"), TAnswerEvent::aeSpeed);
  EXPECT_TRUE(parser.State().speedChanged);
  EXPECT_EQ(parser.Dispatch("ANS_FRAMEDROPPING=2"), TAnswerEvent::aeFrameDrop);
  EXPECT_EQ(parser.State().frameDrop, TFrameDrop::fdHard);
  EXPECT_EQ(parser.Dispatch("ANS_FRAMEDROPPING=10"), TAnswerEvent::aeNone);
  EXPECT_EQ(parser.State().frameDrop, TFrameDrop::fdHard);
  EXPECT_EQ(parser.Dispatch("ANS_VOLUME=55.5"), TAnswerEvent::aeVolume);
  EXPECT_EQ(parser.Dispatch("ANS_AUDIO_DELAY=-0.2"), TAnswerEvent::aeAudioDelay);
  EXPECT_EQ(parser.State().audioDelay, -0.2);
  EXPECT_EQ(parser.Dispatch("Starting playback..."), TAnswerEvent::aeStartPlay);
  EXPECT_EQ(parser.Dispatch("ANS_TIME_POSITION=x"), TAnswerEvent::aeNone);
  EXPECT_EQ(parser.State().timePos, 3);
  EXPECT_TRUE(props.Items().empty());
}

TEST_F(ParserFixture, PropertiesFromIdAndVideoOutputLines) {
  parser.Dispatch("VO: [direct3d] 640x480 => 720x576 Planar YV12");
  parser.Dispatch("VO: [x11] 8x8 => 8x8 Planar YV12 ");
  parser.Dispatch("ID_LENGTH=93.40");
  parser.Dispatch("ID_=5");
  parser.Dispatch("ID_EMPTY=  ");
  parser.Dispatch("ID_START_TIME=1.25");
  parser.Dispatch("ID_LENGTH=93.40");
  EXPECT_EQ(props.Value(kPropVideoWidth), "720");
  EXPECT_EQ(props.Value(kPropVideoHeight), "576");
  ASSERT_EQ(props.Count(), 4);
  EXPECT_EQ(props.Items()[2].name, "LENGTH");
  EXPECT_EQ(props.Items()[2].value, "93.40");
  EXPECT_EQ(props.Items()[3].name, "START_TIME");
  EXPECT_EQ(parser.State().startTime, 1.25);
  EXPECT_EQ(changes, (std::vector<int>{0, 1, 2, 3}));  // an unchanged value is not told again

  parser.Dispatch("ID_LENGTH=95");
  EXPECT_EQ(props.IndexOf(" LENGTH "), 2);
  EXPECT_EQ(props.Value("LENGTH"), "95");
  props.Clear();
  EXPECT_EQ(changes.back(), -1);
}

TEST_F(ParserFixture, AfterFailedToOpenNothingChangesUntilTheNextOpen) {
  EXPECT_EQ(parser.Dispatch("  Failed to open /x/y.avi.\r"), TAnswerEvent::aeFailedOpen);
  EXPECT_TRUE(parser.State().failed);
  for (const char* line : {"Failed to open again", "ID_LENGTH=3", "ANS_TIME_POSITION=4",
                           "VO: [x11] 320x240 => 320x240 x", "ID_START_TIME=2"})
    EXPECT_EQ(parser.Dispatch(line), TAnswerEvent::aeNone) << line;
  EXPECT_EQ(props.Count(), 0);
  EXPECT_EQ(parser.State().timePos, 0);
  parser.Reset();
  parser.Dispatch("ANS_TIME_POSITION=4");
  EXPECT_EQ(parser.State().timePos, 4);
}

TEST(MPlayerOutput, LinesAreCutAtLineEndsAcrossChunksAndAtANul) {
  TAnswerLineBuffer b;
  const std::string first = "ID_LENGTH=2";
  b.Append(first.data(), first.size());
  EXPECT_TRUE(b.TakeLines().empty());
  const char rest[] = "0.00\r\nANS_SPEED=1\nhalf\0ignored\nstill";
  b.Append(rest, sizeof rest - 1);
  EXPECT_EQ(b.TakeLines(), (std::vector<std::string>{"ID_LENGTH=20.00\r", "ANS_SPEED=1"}));
  b.Append("\n", 1);
  EXPECT_EQ(b.TakeLines(), (std::vector<std::string>{"half"}));

  const std::string flood(TAnswerLineBuffer::kMaxLine + 1, 'a');
  b.Append(flood.data(), flood.size());
  b.Append("x\n", 2);
  EXPECT_EQ(b.TakeLines(), (std::vector<std::string>{"x"}));
}

}  // namespace
}  // namespace qvl

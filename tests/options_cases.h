// One table of options texts and what the reader must make of them, checked
// natively against the reader itself and on the real DLL under Wine (through
// mj_start and the status line), so that both C runtimes read numbers alike.
#ifndef MJ_OPTIONS_CASES_H
#define MJ_OPTIONS_CASES_H

struct options_case {
  const char *text;
  // The six fields when accepted: mode, interval_s, dx, dy, only_when_idle,
  // dry_run. Ignored when rejected.
  int mode, interval_s, dx, dy, only_when_idle, dry_run;
  const char *rejection;  // null when the text is accepted
};

#define MJ_NOT_OBJECT "options must be a JSON object"
#define MJ_BAD_MODE "mode must be \"zen\" or \"move\""
#define MJ_REJECT(msg) 0, 0, 0, 0, 0, 0, msg

// clang-format off
static const options_case k_options_cases[] = {
  // The object check: only the first non-whitespace byte matters.
  {"{}",                                   1, 60, 1, 1, 1, 0, nullptr},
  {"{",                                    1, 60, 1, 1, 1, 0, nullptr},
  {"{ this is not json ]]",                1, 60, 1, 1, 1, 0, nullptr},
  {" \t\r\n\v\f{}",                        1, 60, 1, 1, 1, 0, nullptr},
  {"   ",                                  MJ_REJECT(MJ_NOT_OBJECT)},
  {"[{\"mode\":\"move\"}]",                MJ_REJECT(MJ_NOT_OBJECT)},
  {"mode",                                 MJ_REJECT(MJ_NOT_OBJECT)},
  {"7",                                    MJ_REJECT(MJ_NOT_OBJECT)},
  {"\xEF\xBB\xBF{}",                       MJ_REJECT(MJ_NOT_OBJECT)},
  {"\xA0{}",                               MJ_REJECT(MJ_NOT_OBJECT)},

  // mode: exactly "zen" or "move"; other strings reject, other kinds are ignored.
  {"{\"mode\":\"move\"}",                  0, 60, 1, 1, 1, 0, nullptr},
  {"{\"mode\":\"zen\"}",                   1, 60, 1, 1, 1, 0, nullptr},
  {"{\"mode\":\"Zen\"}",                   MJ_REJECT(MJ_BAD_MODE)},
  {"{\"mode\":\"MOVE\"}",                  MJ_REJECT(MJ_BAD_MODE)},
  {"{\"mode\":\"\"}",                      MJ_REJECT(MJ_BAD_MODE)},
  {"{\"mode\":\"zen \"}",                  MJ_REJECT(MJ_BAD_MODE)},
  {"{\"mode\":\"movemovemovemove\"}",      MJ_REJECT(MJ_BAD_MODE)},
  {"{\"mode\":\"mo\\\"ve\"}",              MJ_REJECT(MJ_BAD_MODE)},
  {"{\"mode\":\"\\u007aen\"}",             MJ_REJECT(MJ_BAD_MODE)},
  {"{\"mode\":5}",                         1, 60, 1, 1, 1, 0, nullptr},
  {"{\"mode\":true}",                      1, 60, 1, 1, 1, 0, nullptr},
  {"{\"mode\":null}",                      1, 60, 1, 1, 1, 0, nullptr},
  {"{\"mode\":\"zen",                      1, 60, 1, 1, 1, 0, nullptr},
  {"{\"mode\":\"mov",                      MJ_REJECT(MJ_BAD_MODE)},
  {"{\"mode\":",                           1, 60, 1, 1, 1, 0, nullptr},
  // A rejection comes before any field is written.
  {"{\"interval_s\":5,\"dx\":9,\"mode\":\"fast\"}", MJ_REJECT(MJ_BAD_MODE)},

  // Move mode never keeps a step of 0,0.
  {"{\"mode\":\"move\",\"dx\":0,\"dy\":0}",   0, 60, 1, 0, 1, 0, nullptr},
  {"{\"mode\":\"move\",\"dx\":0,\"dy\":5}",   0, 60, 0, 5, 1, 0, nullptr},
  {"{\"dx\":0,\"dy\":0}",                     1, 60, 0, 0, 1, 0, nullptr},
  {"{\"mode\":\"move\",\"dx\":-0.9,\"dy\":0}",0, 60, 1, 0, 1, 0, nullptr},

  // interval_s: clamps, boolean words and the number forms of strtod.
  {"{\"interval_s\":0}",                   1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":-5}",                  1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":3601}",                1, 3600, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":3600}",                1, 3600, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":true}",                1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":false}",               1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":1e3}",                 1, 1000, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":2E+2}",                1, 200, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":0x10}",                1, 16, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":0X1p4}",               1, 16, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":0x1.8p1}",             1, 3, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":0x}",                  1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":59.99}",               1, 59, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":-0.9}",                1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":+60}",                 1, 60, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":007}",                 1, 7, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":90}",                  1, 90, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":90seconds}",           1, 90, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":5e}",                  1, 5, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":-}",                   1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":-",                    1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":- 5}",                 1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":+x}",                  1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":.5}",                  1, 60, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":\"90\"}",              1, 60, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":inf}",                 1, 60, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":1e-400}",              1, 1, 1, 1, 1, 0, nullptr},
  // Beyond the 32-bit range and infinities saturate; a NaN keeps the default.
  {"{\"interval_s\":1e10}",                1, 3600, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":-1e10}",               1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":1e400}",               1, 3600, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":+inf}",                1, 3600, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":+Infinity}",           1, 3600, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":-INF}",                1, 1, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":+nan}",                1, 60, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":-NaN}",                1, 60, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":2147483647.9}",        1, 3600, 1, 1, 1, 0, nullptr},
  {"{\"interval_s\":-2147483648.9}",       1, 1, 1, 1, 1, 0, nullptr},

  // dx and dy: clamped to -200..200, truncated toward zero.
  {"{\"dx\":250,\"dy\":-250}",             1, 60, 200, -200, 1, 0, nullptr},
  {"{\"dx\":-200.7,\"dy\":199.9}",         1, 60, -200, 199, 1, 0, nullptr},
  {"{\"dx\":1e300,\"dy\":-1e300}",         1, 60, 200, -200, 1, 0, nullptr},

  // only_when_idle and dry_run: 1 when nonzero; words compare four or five bytes.
  {"{\"only_when_idle\":2}",               1, 60, 1, 1, 1, 0, nullptr},
  {"{\"only_when_idle\":-1}",              1, 60, 1, 1, 1, 0, nullptr},
  {"{\"only_when_idle\":0.5}",             1, 60, 1, 1, 0, 0, nullptr},
  {"{\"only_when_idle\":-0.9}",            1, 60, 1, 1, 0, 0, nullptr},
  {"{\"only_when_idle\":false}",           1, 60, 1, 1, 0, 0, nullptr},
  {"{\"only_when_idle\":\"no\"}",          1, 60, 1, 1, 1, 0, nullptr},
  {"{\"only_when_idle\":False}",           1, 60, 1, 1, 1, 0, nullptr},
  {"{\"dry_run\":true}",                   1, 60, 1, 1, 1, 1, nullptr},
  {"{\"dry_run\":trueish}",                1, 60, 1, 1, 1, 1, nullptr},
  {"{\"dry_run\":falsehood,\"only_when_idle\":0}", 1, 60, 1, 1, 0, 0, nullptr},
  {"{\"dry_run\":\"yes\"}",                1, 60, 1, 1, 1, 0, nullptr},
  {"{\"dry_run\":TRUE}",                   1, 60, 1, 1, 1, 0, nullptr},

  // The flat key search: first qualifying occurrence, nesting ignored.
  {"{\"dx\":7,\"dx\":5}",                  1, 60, 7, 1, 1, 0, nullptr},
  {"{\"dx\":\"seven\",\"dx\":5}",          1, 60, 1, 1, 1, 0, nullptr},
  {"{\"inner\":{\"dx\":9},\"dx\":5}",      1, 60, 9, 1, 1, 0, nullptr},
  {"{\"list\":[{\"dy\":-3}]}",             1, 60, 1, -3, 1, 0, nullptr},
  {"{\"a\":\"dx\",\"dx\":5}",              1, 60, 5, 1, 1, 0, nullptr},
  {"{\"name\":\"mode\",\"mode\":\"move\"}",0, 60, 1, 1, 1, 0, nullptr},
  {"{\"xdx\":4,\"dxx\":6}",                1, 60, 1, 1, 1, 0, nullptr},
  {"{\"DX\":4}",                           1, 60, 1, 1, 1, 0, nullptr},
  {"{\"other\":1,\"interval_s\":5}",       1, 5, 1, 1, 1, 0, nullptr},
  // Whitespace, line breaks included, around the colon.
  {"{\"dx\" \t\r\n : \n\t-7 }",            1, 60, -7, 1, 1, 0, nullptr},
  {"{\n  \"mode\" :\n  \"move\",\n  \"interval_s\" : 30\n}", 0, 30, 1, 1, 1, 0, nullptr},
  // A colon that ends the text gives an empty value: the default stands.
  {"{\"dx\":",                             1, 60, 1, 1, 1, 0, nullptr},
  {"{\"dx\":   ",                          1, 60, 1, 1, 1, 0, nullptr},
  {"{\"dx\"",                              1, 60, 1, 1, 1, 0, nullptr},

  // A full text.
  {"{\"mode\":\"move\",\"interval_s\":30,\"dx\":2,\"dy\":0,\"only_when_idle\":true,\"dry_run\":false}",
                                           0, 30, 2, 0, 1, 0, nullptr},
};
// clang-format on

#endif

# Sourced by run.sh and test.sh: installs the Debian packages the build and
# the tests need, skipping those already present.
tamsel_install() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Qt 6 Widgets and Multimedia: the user interface (tamsel), the Qt seams and
# their tests; the build goes on without them. Qt's SVG icon engine draws the
# program's icons. The windows draw their texts with the DejaVu font, the
# same on every machine.
TAMSEL_BUILD_PACKAGES=(cmake ninja-build g++ make libgtest-dev libbenchmark-dev qt6-base-dev qt6-multimedia-dev qt6-svg-dev fonts-dejavu-core)
# The a52dec program comes with liba52-0.7.4-dev; fixtures draw frame numbers
# with the DejaVu font; the end-to-end tests run the program on a virtual X
# display (Xvfb, xauth) and drive it with xdotool.
TAMSEL_TEST_PACKAGES=(ffmpeg mjpegtools mpeg2dec libjpeg-turbo-progs imagemagick mpg123 madplay dvdauthor liba52-0.7.4-dev sox fonts-dejavu-core xvfb xauth xdotool)

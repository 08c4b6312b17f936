// The project's own audio layer: the calls the sound module is written against, with their
// numeric codes and flags. Decoding (libsndfile), output (SDL2 audio) and spectrum (FFTW)
// sit behind these calls; none of those libraries' types leak out of this header.
#pragma once
#include <cstdint>

// ---- error codes (BASS_ErrorGetCode) ----
constexpr int32_t BASS_OK = 0;
constexpr int32_t BASS_ERROR_MEM = 1;         // out of memory
constexpr int32_t BASS_ERROR_FILEOPEN = 2;    // a file could not be opened or read
constexpr int32_t BASS_ERROR_DRIVER = 3;      // no usable output driver or device
constexpr int32_t BASS_ERROR_HANDLE = 5;      // not a handle of a live stream
constexpr int32_t BASS_ERROR_FORMAT = 6;      // sample format not supported
constexpr int32_t BASS_ERROR_POSITION = 7;    // position beyond the stream
constexpr int32_t BASS_ERROR_INIT = 8;        // BASS_Init has not succeeded
constexpr int32_t BASS_ERROR_ALREADY = 14;    // already initialised
constexpr int32_t BASS_ERROR_ILLTYPE = 19;    // illegal type / option
constexpr int32_t BASS_ERROR_ILLPARAM = 20;   // illegal parameter
constexpr int32_t BASS_ERROR_DEVICE = 23;     // no such device number
constexpr int32_t BASS_ERROR_NOTAVAIL = 37;   // the request is not available
constexpr int32_t BASS_ERROR_FILEFORM = 41;   // file format not recognised
constexpr int32_t BASS_ERROR_UNKNOWN = -1;

// ---- BASS_Init ----
constexpr int32_t BASS_DEVICE_NOSOUND = 0;        // no output; positions move only when set
constexpr int32_t BASS_DEVICE_DEFAULT_OUTPUT = 1; // the system's default output
constexpr uint32_t BASS_DEVICE_LATENCY = 0x100;   // measure the output latency (BASS_GetInfo)

// ---- BASS_SetConfig / BASS_GetConfig options ----
constexpr uint32_t BASS_CONFIG_BUFFER = 0;         // playback buffer length in ms
constexpr uint32_t BASS_CONFIG_UPDATEPERIOD = 1;   // refill period in ms; 0: refill only on request
constexpr uint32_t BASS_CONFIG_UPDATETHREADS = 24; // number of refill threads; 0: none

// ---- BASS_StreamCreateFile flags ----
// Lengths and positions are always exact (streams are decoded whole), so this flag is
// accepted and changes nothing.
constexpr uint32_t BASS_STREAM_PRESCAN = 0x20000;

// ---- positions, channel states ----
constexpr uint32_t BASS_POS_BYTE = 0;
constexpr uint32_t BASS_ACTIVE_STOPPED = 0;
constexpr uint32_t BASS_ACTIVE_PLAYING = 1;
constexpr uint32_t BASS_ACTIVE_PAUSED = 3;

// ---- BASS_ChannelGetData: FFT requests ----
// The FFT size is 256 << (flags & 7); the result is size / 2 float magnitudes of the channel's
// current output, channels mixed to mono, scaled so that a full-scale sine reads about 1.0.
constexpr uint32_t BASS_DATA_FFT256 = 0x80000000;
constexpr uint32_t BASS_DATA_FFT512 = 0x80000001;
constexpr uint32_t BASS_DATA_FFT1024 = 0x80000002;
constexpr uint32_t BASS_DATA_FFT2048 = 0x80000003;
constexpr uint32_t BASS_DATA_FFT4096 = 0x80000004;
constexpr uint32_t BASS_DATA_FFT8192 = 0x80000005;
constexpr uint32_t BASS_DATA_FFT16384 = 0x80000006;
constexpr uint32_t BASS_DATA_FFT32768 = 0x80000007;
constexpr uint32_t BASS_DATA_FFT_INDIVIDUAL = 0x10;  // per-channel results: not available
constexpr uint32_t BASS_DATA_FFT_NOWINDOW = 0x20;    // no Hann window
constexpr uint32_t BASS_DATA_FFT_REMOVEDC = 0x40;    // subtract the mean before the transform
constexpr uint32_t BASS_DATA_FFT_COMPLEX = 0x80;     // complex results: not available
constexpr uint32_t BASS_DATA_FFT_NYQUIST = 0x100;    // one more value: the Nyquist bin
constexpr uint32_t BASS_DATA_FLOAT = 0x40000000;     // float results (FFT results always are)

struct BASS_INFO {
    uint32_t flags = 0;
    uint32_t minbuf = 0;     // the device's buffer in ms
    uint32_t latency = 0;    // ms between handing samples to the output and hearing them
    uint32_t initflags = 0;  // the flags given to BASS_Init
    uint32_t speakers = 0;   // output channels
    uint32_t freq = 0;       // output rate in Hz
};

// What a stream carries: its own rate and channel count.
struct BASS_CHANNELINFO {
    uint32_t freq = 0;
    uint32_t chans = 0;
    uint32_t flags = 0;
};

// ---- device ----
uint32_t BASS_GetVersion();  // 2.4 in the upper 16 bits
// device: 1 the default output, 0 no sound. freq: output rate. window, clsid: not needed here.
bool BASS_Init(int32_t device, uint32_t freq, uint32_t flags, void* window, const void* clsid);
bool BASS_Free();            // closes the device and frees every stream
bool BASS_GetInfo(BASS_INFO* info);
bool BASS_SetConfig(uint32_t option, uint32_t value);
uint32_t BASS_GetConfig(uint32_t option);  // (uint32_t)-1 on error
bool BASS_Start();           // resume the output
bool BASS_Pause();           // pause the output: every stream stands still where it is heard
int32_t BASS_ErrorGetCode(); // the code of this thread's most recent call

// ---- streams ----
// mem true: file is the address of length bytes (offset skips leading bytes), which are decoded
// at once and not used afterwards. mem false: file is a path; length 0 reads to the end.
uint32_t BASS_StreamCreateFile(bool mem, const void* file, uint64_t offset, uint64_t length, uint32_t flags);
bool BASS_StreamFree(uint32_t handle);

// ---- channels (positions and lengths in bytes of 16-bit PCM of the stream's channels) ----
bool BASS_ChannelGetInfo(uint32_t handle, BASS_CHANNELINFO* info);
uint64_t BASS_ChannelGetLength(uint32_t handle, uint32_t mode);    // (uint64_t)-1 on error
uint64_t BASS_ChannelGetPosition(uint32_t handle, uint32_t mode);  // (uint64_t)-1 on error
bool BASS_ChannelSetPosition(uint32_t handle, uint64_t pos, uint32_t mode);
double BASS_ChannelBytes2Seconds(uint32_t handle, uint64_t pos);   // negative on error
uint64_t BASS_ChannelSeconds2Bytes(uint32_t handle, double seconds);  // (uint64_t)-1 on error
// Refills the playback buffer: length in ms, 0 for the whole buffer.
bool BASS_ChannelUpdate(uint32_t handle, uint32_t length);
bool BASS_ChannelPlay(uint32_t handle, bool restart);
uint32_t BASS_ChannelIsActive(uint32_t handle);
// This layer's own call: loops playback between two byte positions. Playback that reaches end
// goes on at start; the wrap is made where the samples are converted for the output, so it is
// heard without a gap and the position follows it. end <= start clears the loop; an end past
// the stream is its end. Playback that is already past end when the loop is set is not looped.
bool BASS_ChannelSetLoop(uint32_t handle, uint64_t start, uint64_t end);
// FFT requests only (BASS_DATA_FFT*); returns the bytes of PCM the transform covered, or
// (uint32_t)-1 with the buffer untouched.
uint32_t BASS_ChannelGetData(uint32_t handle, void* buffer, uint32_t length);

// Plays the wave pattern in res/wave on the Game Boy's wave channel.
//
// res/wave is turned into res/wave.c by corvane (see the Makefile), which
// defines the array declared here. The registers are written directly, so the
// program builds with GBDK's lcc or with plain sdcc -msm83 alike.

extern const unsigned char wave[];

#define REG(address) (*(volatile unsigned char *)(address))
#define NR30 REG(0xFF1A) // wave channel on/off
#define NR32 REG(0xFF1C) // wave channel volume
#define NR33 REG(0xFF1D) // frequency, low bits
#define NR34 REG(0xFF1E) // frequency, high bits, and trigger
#define NR50 REG(0xFF24) // master volume
#define NR51 REG(0xFF25) // panning
#define NR52 REG(0xFF26) // sound on/off
#define WAVE_RAM ((volatile unsigned char *)0xFF30)

// 440 Hz: the channel plays 65536 / (2048 - x) waves a second.
#define FREQUENCY (2048 - 65536 / 440)

void main(void)
{
    unsigned char i;

    NR52 = 0x80;
    NR50 = 0x77;
    NR51 = 0xFF;

    NR30 = 0x00; // wave RAM may only be written while the channel is off
    for (i = 0; i < 16; i++)
        WAVE_RAM[i] = wave[i];
    NR30 = 0x80;

    NR32 = 0x20;
    NR33 = FREQUENCY & 0xFF;
    NR34 = 0x80 | (FREQUENCY >> 8);

    for (;;) {
    }
}

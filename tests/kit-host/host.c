/* Calls Fotex.dll and the virtual camera through their import libraries, by the names the
   headers declare, and prints what each call gave. */
#include <stdio.h>

#include <fotex.h>
#include <fotexsim_api.h>

int main(void) {
    int count = -1;
    printf("api level: %d, header %d\n", GetFotexApiLevel(), FOTEX_API_LEVEL);
    /* Loading Fotex.dll joined this thread to COM, which registering needs. */
    printf("register: %d\n", FotexSimRegister());
    printf("transfer rate: %d\n", FotexSimSetTransferRate(0, 400000));
    printf("enumerate: %d\n", EnumerateWiaDevices(&count));
    printf("devices: %d\n", count);
    FotexSimRevoke();
    return 0;
}

/* A device we did not write the RPC of, made by the distribution's rpcgen and libtirpc: it serves
   the core channel; a device_write of "SRQ" sends a one-way device_intr_srq call with the handle.
   Usage: srq_device [SECONDS]. Prints its core port (no portmapper), then each check; ends at
   destroy_link or after SECONDS (60), exit code 0 when every check passed. */
#include "judge.h"

void device_core_1(struct svc_req* request, SVCXPRT* transport); /* rpcgen -m's, undeclared */

enum { link_id = 5, status_byte = 0x45, rqs = 0x40 };
static int linked, link_destroyed, failures, channel_made, enabled, requesting;
static Device_RemoteFunc channel;
static char handle[40];
static u_int handle_length;

static void check(const char* what, int passed)
{
    printf("%s %s\n", passed ? "ok  " : "FAIL", what);
    failures += !passed;
}

static Device_Error* answer(long error)
{
    static Device_Error result;
    result.error = error;
    return &result;
}

Create_LinkResp* create_link_1_svc(Create_LinkParms* args, struct svc_req* request)
{
    static Create_LinkResp result = {0, link_id, 0, 1024};
    result.error = linked++ ? 9 : 0;
    return &result;
}

/* device_intr_srq on the session's channel with a zero timeout: libtirpc sends it, returns RPC_TIMEDOUT. */
static void request_service(void)
{
    struct sockaddr_in where = {.sin_family = AF_INET, .sin_port = htons((unsigned short)channel.hostPort),
                                .sin_addr.s_addr = htonl((uint32_t)channel.hostAddr)};
    int sock = RPC_ANYSOCK;
    CLIENT* session = clnttcp_create(&where, DEVICE_INTR, DEVICE_INTR_VERSION, &sock, 0, 0);
    check("a request asked for while enabled, on the channel named by create_intr_chan",
          enabled && channel_made && session);
    if (!session)
        return;
    requesting = 1;
    Device_SrqParms args = {{handle_length, handle}};
    const struct timeval none = {0, 0};
    check("device_intr_srq sent", clnt_call(session, device_intr_srq, (xdrproc_t)xdr_Device_SrqParms, (char*)&args,
                                            (xdrproc_t)xdr_void, NULL, none) == RPC_TIMEDOUT);
    clnt_destroy(session);
}

Device_WriteResp* device_write_1_svc(Device_WriteParms* args, struct svc_req* request)
{
    static Device_WriteResp result;
    check("device_write on the link", args->lid == link_id);
    if (args->data.data_len >= 3 && !memcmp(args->data.data_val, "SRQ", 3))
        request_service();
    result = (Device_WriteResp){0, args->data.data_len};
    return &result;
}

Device_ReadResp* device_read_1_svc(Device_ReadParms* args, struct svc_req* request) { return NULL; } /* never asked */

/* The status byte with RQS until it is read once. */
Device_ReadStbResp* device_readstb_1_svc(Device_GenericParms* args, struct svc_req* request)
{
    static Device_ReadStbResp result;
    check("device_readstb on the link", args->lid == link_id);
    result = (Device_ReadStbResp){0, (u_char)(requesting ? status_byte : status_byte & ~rqs)};
    requesting = 0;
    return &result;
}

Device_Error* device_enable_srq_1_svc(Device_EnableSrqParms* args, struct svc_req* request)
{
    check("device_enable_srq on the link", args->lid == link_id);
    if (args->enable) {
        check("device_enable_srq true after create_intr_chan, with a handle", channel_made && args->handle.handle_len > 0);
        handle_length = args->handle.handle_len; /* at most 40: the XDR of the handle refuses more */
        memcpy(handle, args->handle.handle_val, handle_length);
    }
    enabled = args->enable;
    return answer(0);
}

Device_Error* create_intr_chan_1_svc(Device_RemoteFunc* args, struct svc_req* request)
{
    check("create_intr_chan for device_intr_srq over TCP",
          args->progNum == DEVICE_INTR && args->progVers == DEVICE_INTR_VERSION && args->progFamily == DEVICE_TCP);
    if (channel_made)
        return answer(29);
    channel = *args;
    channel_made = 1;
    return answer(0);
}

Device_Error* destroy_intr_chan_1_svc(void* args, struct svc_req* request)
{
    check("destroy_intr_chan after device_enable_srq false", !enabled);
    const int had = channel_made;
    channel_made = 0;
    return answer(had ? 0 : 6);
}

Device_Error* destroy_link_1_svc(Device_Link* args, struct svc_req* request)
{
    check("destroy_link of the link, after the interrupt channel went", *args == link_id && !enabled && !channel_made);
    link_destroyed = 1;
    return answer(0);
}

int main(int argc, char** argv)
{
    const time_t until = time(NULL) + (argc > 1 ? atoi(argv[1]) : 60);
    SVCXPRT* core = svctcp_create(RPC_ANYSOCK, 0, 0);
    if (!core || !svc_register(core, DEVICE_CORE, DEVICE_CORE_VERSION, device_core_1, 0))
        return fprintf(stderr, "the core channel cannot be served\n"), 1;
    printf("%u\n", (unsigned)core->xp_port);
    serve(&link_destroyed, until);
    check("the link destroyed in time", link_destroyed);
    return failures ? 1 : 0;
}

#include <stdio.h>
#include <zavimage/job.h>

int main(void) {
    ZAVJob *job = ZAVJobCreate(
        "{\"version\": 1, \"inputs\": [\"shots\"], \"out_dir\": \"marked\", \"format\": \"jpg\","
        " \"resize\": \"1280x720\", \"boxes\": [\"200,120,64,48\"],"
        " \"captions\": [{\"text\": \"cam 1\", \"anchor\": \"top-left\"}]}");
    if (ZAVJobPlan(job) != ZAV_JOB_OK || ZAVJobMakeFolders(job) != ZAV_JOB_OK) {
        fprintf(stderr, "%s\n", ZAVJobMessage(job)); /* nothing was done */
        ZAVJobDestroy(job);
        return 2;
    }
    ZAVImageObject *obj = ZAVCreateObject(); /* one per thread */
    for (size_t i = 0; i < ZAVJobItemCount(job); ++i) {
        ZAVJobRunItem(job, obj, i, NULL); /* refused for items the plan decided */
    }
    ZAVJobCounts counts;
    ZAVJobGetCounts(job, &counts);
    fputs(ZAVJobSummary(job, "annotate", NULL), stdout);
    ZAVDestroyObject(obj);
    ZAVJobDestroy(job);
    return counts.failed != 0;
}

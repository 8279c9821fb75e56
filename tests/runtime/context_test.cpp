// Context, worker and host words: the buffer protocol, containers by mode,
// task texts and the message catalogue.
#include <gtest/gtest.h>

#include "refhost/context.h"
#include "refhost/host.h"

namespace refhost {
namespace {

TEST(Context, TextsFollowTheBufferProtocolAndContainersOpenByMode) {
    Host host;
    Context context(host);
    context.setParameter("split_fields", {"region", "a&b"});
    context.setParameter("other", {});
    context.setParameter("split_fields", {"channel"});  // replaced in place
    EXPECT_EQ("<Parameters><Parameter name=\"split_fields\"><Value value=\"channel\"/></Parameter>"
              "<Parameter name=\"other\"></Parameter></Parameters>",
              context.parametersXml());
    context.setDataModel("<DataModel/>");
    CFContext* c = context.record();
    int err = 0;
    size_t needed = 0;
    char small[12] = "untouched";
    EXPECT_EQ(CF_BUFFER_TOO_SMALL, c->getInputDataModel(c->handle, 0, small, 12, &needed, &err));
    EXPECT_EQ(13u, needed);
    EXPECT_STREQ("untouched", small);
    char exact[13];
    EXPECT_EQ(0u, c->getInputDataModel(c->handle, 0, exact, 13, &needed, &err));
    EXPECT_STREQ("<DataModel/>", exact);

    CFContainerFile* read = nullptr;
    EXPECT_EQ(CF_FAILED, c->openContainer(c->handle, "InputPMML", CF_MODE_READ, &read, &err));
    EXPECT_FALSE(context.hasContainer("InputPMML"));
    context.container("InputPMML").setDefaultEntry("<PMML/>");
    ASSERT_EQ(0u, c->openContainer(c->handle, "InputPMML", CF_MODE_READ, &read, &err));
    EXPECT_EQ(&context.container("InputPMML"), Container::fromRecord(read));

    // Every open for writing is a fresh container; the name leads to the newest.
    CFContainerFile *first = nullptr, *second = nullptr;
    ASSERT_EQ(0u, c->openContainer(c->handle, "Copy", CF_MODE_WRITE, &first, &err));
    ASSERT_EQ(0u, c->openContainer(c->handle, "Copy", CF_MODE_WRITE, &second, &err));
    EXPECT_NE(first, second);
    EXPECT_EQ(2u, context.containers("Copy").size());
    EXPECT_EQ(Container::fromRecord(second), &context.container("Copy"));
    EXPECT_EQ(1u, context.container("Copy").openCount());
}

TEST(Worker, TaskTextsNeedBothBuffersAndContainersMustExist) {
    Worker worker(3);
    worker.setTask("", "<SplitFields/>");
    CFWorker* w = worker.record();
    int err = 0;
    char a[8] = "keep";
    char b[8] = "keep";
    size_t needA = 0;
    size_t needB = 0;
    EXPECT_EQ(CF_BUFFER_TOO_SMALL, w->getTask(w->handle, a, 8, &needA, b, 8, &needB, &err));
    EXPECT_EQ(1u, needA);
    EXPECT_EQ(15u, needB);
    EXPECT_STREQ("keep", a);
    EXPECT_STREQ("keep", b);
    char big[15];
    ASSERT_EQ(0u, w->getTask(w->handle, a, 1, &needA, big, 15, &needB, &err));
    EXPECT_STREQ("", a);
    EXPECT_STREQ("<SplitFields/>", big);

    CFContainerFile* c = nullptr;
    EXPECT_EQ(CF_FAILED, w->openWorkerContainer(w->handle, "WorkerPMML", &c, &err));
    worker.container("WorkerPMML").setDefaultEntry("<PMML/>");
    ASSERT_EQ(0u, w->openWorkerContainer(w->handle, "WorkerPMML", &c, &err));
    EXPECT_EQ(&worker.container("WorkerPMML"), Container::fromRecord(c));
}

TEST(Host, CatalogueSubstitutesArguments) {
    EXPECT_EQ("Split field 'region' is not a field of the input data model.",
              Host::messageText(280004, {"region"}));
    EXPECT_EQ("Building the model for this split group failed.",
              Host::messageText("kSPLIT_SplitFailedErr_0"));
    EXPECT_EQ("Message 123: x, y", Host::messageText(123, {"x", "y"}));
    for (int code : {240001, 240003, 280001, 280002, 280003, 280005, 280006, 280007, 280008,
                     280009, 280010, 280012, 280013, 280014, 280015, 280016})
        EXPECT_FALSE(Host::messageText(code).starts_with("Message ")) << code;
    EXPECT_EQ("Warning 280016: Split field 'f' has an unusable measurement level; it is treated "
              "as categorical.",
              Host::describe(Message{2, 280016, {"f"}}));
}

}  // namespace
}  // namespace refhost
